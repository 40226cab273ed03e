#pragma once
// Shared setup of the file-reader fuzz targets: a scratch directory on a memory file system
// where possible (the writers flush to disk), made the current directory; a silent message
// sink; a fatal-exit hook that records instead of ending the process.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "common/MessageSink.h"

namespace dpx::fuzz {

class SilentSink final : public MessageSink {
public:
    void Show(const std::string&) override { ++shown; }
    int shown = 0;
};

inline SilentSink sink;
inline int fatal_exits = 0;

inline void EnterScratchDirectory() {
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string dir = std::string(base) + "/dpx20-fuzz-XXXXXX";
    if (!mkdtemp(dir.data()) || chdir(dir.c_str()) != 0) {
        std::perror("scratch directory");
        std::abort();
    }
    SetMessageSink(&sink);
    SetFatalExitHook([](int) { ++fatal_exits; });
}

inline void WriteInput(const char* name, const uint8_t* data, size_t size) {
    const int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) std::abort();
    size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, data + done, size - done);
        if (n <= 0) std::abort();
        done += static_cast<size_t>(n);
    }
    close(fd);
}

inline std::string ReadBack(const char* name) {
    std::string text;
    if (FILE* f = std::fopen(name, "rb")) {
        char chunk[4096];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, n);
        std::fclose(f);
    }
    return text;
}

// Stops the run with a crash that libFuzzer records, when a property does not hold.
inline void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "property failed: %s\n", what);
        std::abort();
    }
}

}  // namespace dpx::fuzz
