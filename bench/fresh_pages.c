// fresh_pages MODE: the time to write a fresh 6000 x 4000 x 3 block row by row, as a decoder
// fills a new picture: MODE 0 plain anonymous mapping, 1 with MADV_HUGEPAGE, 2 with
// MADV_NOHUGEPAGE. Run each in a fresh process, interleaved, and compare medians and tails:
//   cc -O2 -o fresh_pages bench/fresh_pages.c
//   for r in $(seq 15); do for m in 0 1 2; do echo "$m $(./fresh_pages $m)"; done; done
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <time.h>

static double NowMs(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: fresh_pages 0|1|2\n");
        return 2;
    }
    const size_t size = (size_t)6000 * 3 * 4000;
    const int mode = atoi(argv[1]);
    const double start = NowMs();
    unsigned char *p = mmap(NULL, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        return 1;
    if (mode == 1)
        madvise(p, size, MADV_HUGEPAGE);
    if (mode == 2)
        madvise(p, size, MADV_NOHUGEPAGE);
    for (size_t i = 0; i < size; i += 64)
        p[i] = (unsigned char)i;
    printf("%.1f\n", NowMs() - start);
    return 0;
}
