#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>

namespace testing_support {

ScratchFolder::ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "korvo-zip-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void writeFile(const std::string& path, const std::string& content, std::int64_t modificationTime) {
    std::ofstream(path, std::ios::binary) << content;
    if (modificationTime >= 0) setModificationTime(path, modificationTime);
}

void setModificationTime(const std::string& path, std::int64_t seconds) {
    const timespec times[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
    if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        throw std::runtime_error("utimensat failed for " + path);
}

CommandResult run(const std::string& command) {
    std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return {-1, {}};
    std::string output;
    char chunk[4096];
    while (const std::size_t got = std::fread(chunk, 1, sizeof chunk, pipe)) output.append(chunk, got);
    const int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

nlohmann::json pythonListing(const std::string& archivePath, bool withData) {
    const std::string script = std::string(KORVO_TEST_SOURCE_DIR) + "/zip/support/read_zip.py";
    const CommandResult result =
        run("python3 '" + script + "' '" + archivePath + "'" + (withData ? "" : " --names-only"));
    EXPECT_EQ(result.exitCode, 0) << result.output;
    if (result.exitCode != 0) return nlohmann::json::object({{"entries", nlohmann::json::array()}});
    return nlohmann::json::parse(result.output);
}

bool unzipAccepts(const std::string& archivePath) {
    const CommandResult result = run("unzip -tqq '" + archivePath + "'");
    EXPECT_EQ(result.exitCode, 0) << result.output;
    return result.exitCode == 0;
}

}  // namespace testing_support
