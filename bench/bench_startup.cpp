// Start-up: how long the tool takes from launch until its window has
// appeared, painted, on the X server, against an empty Qt Widgets window of
// the same size, launched alternately in one run (target: at most 1.5 times
// the empty window). Both are watched from outside through the X server, so
// the figure is what the user sees; the tool finds no adapter and its update
// check stays on loopback.
//
//   xvfb-run -a build/bench/bench_startup [rounds [baseline program [tool program]]]
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <xcb/xcb.h>

namespace {

// A pixel of the window's top-right corner region (white in the tool's top
// panel, window colour in the empty one); 0xFFFFFFFF when it cannot be read.
quint32 pixelOf(xcb_connection_t* x, xcb_window_t window) {
    const auto cookie = xcb_get_image(x, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 790, 5, 1, 1, ~0u);
    xcb_get_image_reply_t* reply = xcb_get_image_reply(x, cookie, nullptr);
    quint32 pixel = 0xFFFFFFFF;
    if (reply && xcb_get_image_data_length(reply) >= 4)
        std::memcpy(&pixel, xcb_get_image_data(reply), 4);
    free(reply);
    return pixel & 0xFFFFFF;
}

// Milliseconds from launching `program` until a new top-level window is
// mapped, and until its first paint has changed what the window shows; -1
// when no window appears within 20 s.
struct Appearance {
    double mapped = -1;
    double painted = -1;
};

Appearance launch(xcb_connection_t* x, const QString& program) {
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    child.start(program, {});
    Appearance shown;
    xcb_window_t window = XCB_NONE;
    while (shown.mapped < 0 && clock.elapsed() < 20000) {
        xcb_generic_event_t* event = xcb_poll_for_event(x);
        if (!event) {
            child.waitForFinished(1); // sleeps a millisecond unless it ended
            continue;
        }
        if ((event->response_type & ~0x80) == XCB_MAP_NOTIFY) {
            shown.mapped = clock.nsecsElapsed() / 1e6;
            window = reinterpret_cast<xcb_map_notify_event_t*>(event)->window;
        }
        free(event);
    }
    // Until the first paint the window shows what was behind it.
    const quint32 unpainted = window == XCB_NONE ? 0 : pixelOf(x, window);
    while (window != XCB_NONE && clock.elapsed() < shown.mapped + 2000) {
        if (pixelOf(x, window) != unpainted) {
            shown.painted = clock.nsecsElapsed() / 1e6;
            break;
        }
    }
    child.kill();
    child.waitForFinished(5000);
    return shown;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char* argv[]) {
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 10;
    xcb_connection_t* x = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(x))
        return std::printf("startup: no X server (run under xvfb-run)\n"), 1;
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(x)).data;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(x, screen->root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(x);

    // The tool finds no adapter, keeps its settings apart and its update
    // check on loopback.
    QTemporaryDir home;
    qputenv("XDG_RUNTIME_DIR", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    qputenv("Q714_UPDATE_MANIFEST_URL", "https://127.0.0.1:9/software-manifest.csv");
    qputenv("Q714_UPDATE_PROBES", "127.0.0.1:9,127.0.0.1:9");

    // Other programs may stand in for the two, to compare variants.
    const QString emptyProgram =
        argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral(Q714_EMPTY_WINDOW_PATH);
    const QString toolProgram =
        argc > 3 ? QString::fromLocal8Bit(argv[3]) : QStringLiteral(Q714_TOOL_PATH);
    std::vector<double> emptyMapped, emptyPainted, toolMapped, toolPainted;
    launch(x, emptyProgram); // warm the caches
    launch(x, toolProgram);
    for (int round = 0; round < rounds; ++round) {
        const Appearance empty = launch(x, emptyProgram);
        const Appearance tool = launch(x, toolProgram);
        if (empty.painted < 0 || tool.painted < 0)
            return std::printf("startup: a window did not appear\n"), 1;
        emptyMapped.push_back(empty.mapped);
        emptyPainted.push_back(empty.painted);
        toolMapped.push_back(tool.mapped);
        toolPainted.push_back(tool.painted);
    }
    xcb_disconnect(x);
    std::printf("Start-up, medians of %d: mapped after %.1f ms (empty window %.1f ms), painted "
                "after %.1f ms (empty window %.1f ms); ratio %.2f until painted (target <= "
                "1.5), %.2f until mapped\n",
                rounds, median(toolMapped), median(emptyMapped), median(toolPainted),
                median(emptyPainted), median(toolPainted) / median(emptyPainted),
                median(toolMapped) / median(emptyMapped));
    return 0;
}
