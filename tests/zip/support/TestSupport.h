#pragma once

// Helpers shared by the writer's tests (and the core suites' reader and thrown errors): scratch
// folders, files with chosen times, the independent readers (Python's zipfile through
// read_zip.py, and `unzip -t`).

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>

namespace testing_support {

struct ScratchFolder {
    ScratchFolder() { if (::mkdtemp(m_path.data()) == nullptr) throw std::runtime_error("mkdtemp failed"); }
    ~ScratchFolder() { std::error_code ignored; std::filesystem::remove_all(m_path, ignored); }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }
    std::string m_path = (std::filesystem::temp_directory_path() / "korvo-zip-test-XXXXXX").string();
};

inline std::string readFile(const std::string& path) {
    std::ostringstream content;
    content << std::ifstream(path, std::ios::binary).rdbuf();
    return content.str();
}

inline void setModificationTime(const std::string& path, std::int64_t seconds) {  // links are not followed
    const timespec times[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
    if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        throw std::runtime_error("utimensat failed for " + path);
}

inline void writeFile(const std::string& path, const std::string& content, std::int64_t modificationTime = -1) {
    std::ofstream(path, std::ios::binary) << content;
    if (modificationTime >= 0) setModificationTime(path, modificationTime);
}

// Runs a shell command and fails the test unless it exits with 0; returns what it printed.
inline std::string runOk(const std::string& command) {
    std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    std::string output;
    char chunk[4096];
    while (std::size_t got = pipe ? std::fread(chunk, 1, sizeof chunk, pipe) : 0) output.append(chunk, got);
    const int status = pipe ? ::pclose(pipe) : -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command << "\n" << output;
    return output;
}

// The archive as Python's zipfile reads it (see read_zip.py): "entries" with every field and
// the data verified, or only "names" when withData is false.
inline nlohmann::json pythonListing(const std::string& archivePath, bool withData = true) {
    const std::string output = runOk("python3 '" KORVO_TEST_SOURCE_DIR "/zip/support/read_zip.py' '" + archivePath +
                                     "'" + (withData ? "" : " --names-only"));
    const auto json = nlohmann::json::parse(output, nullptr, false);
    return json.is_discarded() ? nlohmann::json{{"entries", nlohmann::json::array()}} : json;
}

// A content source reading from `content` (kept alive by the caller).
inline auto contentOf(const std::string& content) {
    return [&content](std::uint64_t position, unsigned char* destination, std::size_t length) {
        std::memcpy(destination, content.data() + position, length);
    };
}

// The error `call` throws as E; a test failure and nothing when it throws none.
template <typename E, typename F>
std::optional<E> thrown(F&& call) {
    try {
        call();
    } catch (const E& error) {
        return error;
    }
    ADD_FAILURE() << "no error was thrown";
    return std::nullopt;
}

// `unzip -t` must accept the archive.
inline void expectUnzipAccepts(const std::string& archivePath) { runOk("unzip -tqq '" + archivePath + "'"); }

}  // namespace testing_support
