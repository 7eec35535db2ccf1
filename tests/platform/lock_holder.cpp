// Helper process for the settings-lock tests: takes an exclusive flock on FILE (creating it),
// says "locked" on stdout, and holds it until killed.
//   lock_holder FILE
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: lock_holder FILE\n");
        return 2;
    }
    const int fd = ::open(argv[1], O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0 || ::flock(fd, LOCK_EX) != 0) {
        std::perror("lock_holder");
        return 1;
    }
    std::printf("locked\n");
    std::fflush(stdout);
    for (;;)
        ::pause();
}
