// Kills a process in the middle of whole-file writes, again and again, and checks what each kill left.
#pragma once

#include "common/formats/tests/IdfTestFiles.h"

#include <csignal>
#include <filesystem>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

namespace idftest {

inline constexpr int kKills = 1000;

inline size_t filesIn(const std::filesystem::path& folder) {
    return size_t(std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator()));
}

// Forks a child that runs writeForever (which never returns) and kills it after a random delay of up to
// maxDelay microseconds, kKills times; after each kill the file at `path` must be `first` or `second`, and
// afterKill (which may add its own checks) runs. Returns how many kills left each version.
inline std::pair<int, int> killWhileWriting(const std::string& path, const Bytes& first, const Bytes& second, int maxDelay,
                                            const std::function<void()>& writeForever,
                                            const std::function<void(int kill)>& afterKill) {
    std::mt19937 random(17);
    std::uniform_int_distribution<int> delayMicroseconds(0, maxDelay);
    std::pair<int, int> seen{0, 0};
    for (int kill = 0; kill < kKills; ++kill) {
        const pid_t child = fork();
        EXPECT_GE(child, 0);
        if (child < 0) return seen;
        if (child == 0) {
            writeForever();
            _exit(3);
        }
        usleep(useconds_t(delayMicroseconds(random)));
        ::kill(child, SIGKILL);
        int status = 0;
        EXPECT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status)) << "the child stopped by itself, status " << status << " at kill " << kill;
        const Bytes now = readBytes(path);
        EXPECT_TRUE(now == first || now == second) << "kill " << kill << " left " << now.size() << " bytes";
        if (now != first && now != second) return seen;
        (now == first ? seen.first : seen.second)++;
        afterKill(kill);
        if (::testing::Test::HasFatalFailure()) return seen;
    }
    return seen;
}

} // namespace idftest
