/* LD_PRELOAD shim for start-up measurements: prints "FIRST_PAINT <epoch_ms>"
 * on stderr when a Qt program first flushes its backing store to a window,
 * the line the shared measure.sh reads as paint_ms. It wraps
 * QBackingStore::flush and changes nothing else.
 *
 *   cc -O2 -shared -fPIC -o firstpaint.so firstpaint.c -ldl
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <time.h>
#include <unistd.h>

typedef void (*flush_fn)(void *, const void *, void *, const void *);

/* QBackingStore::flush(const QRegion &, QWindow *, const QPoint &) */
void _ZN13QBackingStore5flushERK7QRegionP7QWindowRK6QPoint(void *self, const void *region,
                                                          void *window, const void *offset)
{
    static flush_fn real;
    static int reported;
    if (!real)
        real = (flush_fn)dlsym(RTLD_NEXT, "_ZN13QBackingStore5flushERK7QRegionP7QWindowRK6QPoint");
    if (!reported) {
        struct timespec now;
        char line[64];
        clock_gettime(CLOCK_REALTIME, &now);
        const int n = snprintf(line, sizeof line, "FIRST_PAINT %lld\n",
                               (long long)now.tv_sec * 1000 + now.tv_nsec / 1000000);
        reported = 1;
        if (write(2, line, (size_t)n) < 0)
            reported = 1;
    }
    real(self, region, window, offset);
}
