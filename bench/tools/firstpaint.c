/* LD_PRELOAD shim for start-up measurements of a Qt Widgets program. It
 * prints on stderr, with the wall-clock time in ms since the epoch:
 *   STAMP qapp_begin / qapp_done   around QApplication's constructor
 *   STAMP map_window               the first xcb_map_window request
 *   STAMP exec                     the event loop starts
 *   FIRST_PAINT                    the first flush of a backing store to a window
 * FIRST_PAINT is the line the shared measure.sh reads as paint_ms;
 * startup-phases.py turns the stamps of a measure.sh run into phases. The
 * wrapped functions are called unchanged.
 *
 *   cc -O2 -shared -fPIC -o firstpaint.so firstpaint.c -ldl
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>
#include <time.h>
#include <unistd.h>

static void stamp(const char *what)
{
    struct timespec now;
    char line[80];
    clock_gettime(CLOCK_REALTIME, &now);
    const int n = snprintf(line, sizeof line, "%s %.3f\n", what,
                           (double)now.tv_sec * 1e3 + (double)now.tv_nsec / 1e6);
    if (write(2, line, (size_t)n) < 0)
        return;
}

static void *next(const char *symbol)
{
    return dlsym(RTLD_NEXT, symbol);
}

/* QApplication::QApplication(int &, char **, int) */
void _ZN12QApplicationC1ERiPPci(void *self, int *argc, char **argv, int flags)
{
    static void (*real)(void *, int *, char **, int);
    if (!real)
        real = (void (*)(void *, int *, char **, int))next("_ZN12QApplicationC1ERiPPci");
    stamp("STAMP qapp_begin");
    real(self, argc, argv, flags);
    stamp("STAMP qapp_done");
}

/* QCoreApplication::exec() */
int _ZN16QCoreApplication4execEv(void)
{
    static int (*real)(void);
    if (!real)
        real = (int (*)(void))next("_ZN16QCoreApplication4execEv");
    stamp("STAMP exec");
    return real();
}

/* xcb_void_cookie_t xcb_map_window(xcb_connection_t *, xcb_window_t) */
typedef struct {
    unsigned int sequence;
} cookie;

cookie xcb_map_window(void *connection, uint32_t window)
{
    static cookie (*real)(void *, uint32_t);
    static int reported;
    if (!real)
        real = (cookie(*)(void *, uint32_t))next("xcb_map_window");
    if (!reported) {
        reported = 1;
        stamp("STAMP map_window");
    }
    return real(connection, window);
}

/* QBackingStore::flush(const QRegion &, QWindow *, const QPoint &) */
void _ZN13QBackingStore5flushERK7QRegionP7QWindowRK6QPoint(void *self, const void *region,
                                                          void *window, const void *offset)
{
    static void (*real)(void *, const void *, void *, const void *);
    static int reported;
    if (!real)
        real = (void (*)(void *, const void *, void *, const void *))next(
                "_ZN13QBackingStore5flushERK7QRegionP7QWindowRK6QPoint");
    if (!reported) {
        reported = 1;
        /* measure.sh reads the whole milliseconds before the point. */
        stamp("FIRST_PAINT");
    }
    real(self, region, window, offset);
}
