# Sourced by install-deps.sh and build.sh. Checks that node is 20.19 or later, that its own
# C headers are installed beside it and match it, and that the tools node-gyp compiles with are
# there; then points npm at those headers so native modules (better-sqlite3 in service/) build
# offline, from source, whatever HOME or npm configuration the machine has: node-gyp never
# downloads headers and no prebuilt binary is fetched. On a fault it prints one sentence and
# returns 1.
korvo_node_env() {
  if ! command -v node >/dev/null 2>&1; then
    echo "Node.js 20.19 or later is required, and node was not found (Debian 12's own is 18: install node 20's nodejs package, such as NodeSource's, which also brings its headers)." >&2
    return 1
  fi
  local version major minor
  version=$(node -p 'process.versions.node')
  IFS=. read -r major minor _ <<<"$version"
  if ((major < 20 || (major == 20 && minor < 19))); then
    echo "Node.js 20.19 or later is required, and this node is $version (install node 20's nodejs package, such as NodeSource's)." >&2
    return 1
  fi
  # The headers of a packaged or unpacked node sit under the prefix it runs from
  # (/usr/bin/node: /usr/include/node). A nodedir already set in the environment wins.
  local nodedir=${npm_config_nodedir:-$(node -p 'require("path").resolve(process.execPath, "../..")')}
  local header="$nodedir/include/node/node_version.h" found
  if [ ! -f "$header" ]; then
    echo "Node's C headers were not found at $nodedir/include/node; native modules build against them offline (NodeSource's nodejs package installs them under /usr/include/node)." >&2
    return 1
  fi
  found=$(awk '/^#define NODE_(MAJOR|MINOR|PATCH)_VERSION/ { v = v (v == "" ? "" : ".") $3 } END { print v }' "$header")
  if [ "$found" != "$version" ]; then
    echo "Node's C headers at $nodedir/include/node are for node $found, but node is $version; install the headers that came with this node." >&2
    return 1
  fi
  local tool missing=()
  for tool in c++ make python3; do
    command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
  done
  if ((${#missing[@]})); then
    local IFS=,
    echo "Native node modules cannot be built without ${missing[*]} (scripts/install-deps.sh installs build-essential and python3)." >&2
    return 1
  fi
  export npm_config_nodedir="$nodedir" npm_config_build_from_source=true npm_config_update_notifier=false
}
