// The floor under a run over many small files: the system calls that a safe
// encryptor working in place needs for each file, and nothing else (no
// cipher, no sync, no rules, no report). For each regular file below dir:
// open it and read it whole, fstat it, mkostemp a temporary beside it, write
// a 37-byte header and the bytes, fchmod and futimens the temporary, close
// both, and rename the temporary to the file's name and ".tvk". With -d, the
// input is also unlinked, and one syncfs ends the run, as tovik's -d does.
// The files are split among threads, each taking every nth.
//
// Usage: floor <dir> <threads> [-d]; prints "files=N seconds=S".
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

void list(const std::string& dir, std::vector<std::string>& files) {
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return;
    while (const dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        const std::string path = dir + "/" + e->d_name;
        if (e->d_type == DT_DIR) {
            list(path, files);
        } else if (e->d_type == DT_REG) {
            files.push_back(path);
        }
    }
    closedir(d);
}

bool one_file(const std::string& path, bool delete_input, std::vector<char>& buffer) {
    const int in = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (in < 0) return false;
    struct stat st;
    if (fstat(in, &st) != 0) return false;
    buffer.resize(static_cast<std::size_t>(st.st_size) + 37);
    std::memset(buffer.data(), 't', 37);
    ssize_t got = 0, at = 0;
    while ((got = read(in, buffer.data() + 37 + at, static_cast<std::size_t>(st.st_size - at))) > 0) at += got;
    std::string temp = path + ".tvk.tovik-partial-XXXXXX";
    const int out = mkostemp(temp.data(), O_CLOEXEC);
    if (out < 0) return false;
    const timespec times[2] = {st.st_atim, st.st_mtim};
    const bool ok = write(out, buffer.data(), static_cast<std::size_t>(at) + 37) == at + 37 &&
                    fchmod(out, st.st_mode & 0777) == 0 && futimens(out, times) == 0;
    close(out);
    close(in);
    return ok && rename(temp.c_str(), (path + ".tvk").c_str()) == 0 &&
           (!delete_input || unlink(path.c_str()) == 0);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: floor <dir> <threads> [-d]\n");
        return 2;
    }
    const unsigned threads = static_cast<unsigned>(std::atoi(argv[2]));
    const bool delete_input = argc > 3 && std::strcmp(argv[3], "-d") == 0;
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::string> files;
    list(argv[1], files);
    std::vector<std::thread> pool;
    std::atomic<bool> failed{false};
    for (unsigned t = 0; t < threads; ++t) {
        pool.emplace_back([&, t] {
            std::vector<char> buffer;
            for (std::size_t i = t; i < files.size(); i += threads) {
                if (!one_file(files[i], delete_input, buffer)) failed = true;
            }
        });
    }
    for (std::thread& t : pool) t.join();
    if (delete_input) {
        const int fd = open(argv[1], O_RDONLY | O_CLOEXEC);
        if (fd < 0 || syncfs(fd) != 0) failed = true;
        if (fd >= 0) close(fd);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("files=%zu seconds=%.6f\n", files.size(), seconds);
    return failed ? 1 : 0;
}
