// Starts a program on the X server of $DISPLAY and reports how long a person
// waits for its window: from just before the program is executed until a
// top-level window whose title contains TITLE is mapped, until its contents
// are first drawn into it (the X DAMAGE extension reports that), and until
// the program answers a ping sent after that (its event loop takes input
// again). The program is then ended by its process id.
//
//     bench-startup-probe TITLE PROGRAM [ARGUMENT...]
//
// Prints one line: "mapped_ms=M painted_ms=P ready_ms=R". Exits with 1 when
// the window does not come within the deadline or the program ends first.
//
// Written against XCB: the probe must start in far less time than what it
// measures, and it has no window of its own.

#include <xcb/damage.h>
#include <xcb/xcb.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kDeadline = std::chrono::seconds(60);
constexpr std::uint32_t kPingStamp = 0x7a11beef;

double msSince(Clock::time_point start, Clock::time_point at) {
    return std::chrono::duration<double, std::milli>(at - start).count();
}

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::uint16_t(std::strlen(name)), name),
                              nullptr),
        &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

std::string property(xcb_connection_t* c, xcb_window_t w, xcb_atom_t name, xcb_atom_t type) {
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(c, xcb_get_property(c, 0, w, name, type, 0, 1024), nullptr),
        &std::free);
    if (!reply || reply->type == XCB_ATOM_NONE)
        return {};
    return std::string(static_cast<const char*>(xcb_get_property_value(reply.get())),
                       std::size_t(xcb_get_property_value_length(reply.get())));
}

struct Window {
    bool mapped = false;
    std::uint16_t mapSequence = 0; // our last request the server had processed at its map
};

class Probe {
public:
    Probe(xcb_connection_t* c, std::string title) : m_c(c), m_title(std::move(title)) {
        m_root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        m_protocols = atom(c, "WM_PROTOCOLS");
        m_ping = atom(c, "_NET_WM_PING");
        m_netName = atom(c, "_NET_WM_NAME");
        m_utf8 = atom(c, "UTF8_STRING");
        // Structure notification as well: toolkits send the answer to a
        // ping to the root window for that mask.
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(c, m_root, XCB_CW_EVENT_MASK, &mask);
        m_damageEvent = xcb_get_extension_data(c, &xcb_damage_id)->first_event + XCB_DAMAGE_NOTIFY;
    }

    // Handles one event; true once the program has answered the ping.
    bool handle(const xcb_generic_event_t* e, Clock::time_point at) {
        const int type = e->response_type & 0x7f;
        if (type == XCB_CREATE_NOTIFY) {
            const auto* create = reinterpret_cast<const xcb_create_notify_event_t*>(e);
            if (create->parent != m_root)
                return false;
            // Watched from its creation, so no drawing after the map is missed.
            const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
            xcb_change_window_attributes(m_c, create->window, XCB_CW_EVENT_MASK, &mask);
            xcb_damage_create(m_c, xcb_generate_id(m_c), create->window,
                              XCB_DAMAGE_REPORT_LEVEL_RAW_RECTANGLES);
            xcb_flush(m_c);
            m_windows[create->window];
        } else if (type == XCB_MAP_NOTIFY) {
            const auto* map = reinterpret_cast<const xcb_map_notify_event_t*>(e);
            const auto it = m_windows.find(map->window);
            if (map->event != m_root || it == m_windows.end())
                return false;
            // The server fills a window's background while it maps it, and
            // reports that as drawing; those reports carry the same sequence
            // number as the map. A request of ours marks the end of the map:
            // what is drawn after it comes from the program.
            it->second.mapped = true;
            it->second.mapSequence = map->sequence;
            xcb_no_operation(m_c);
            xcb_flush(m_c);
            if (m_target == XCB_WINDOW_NONE && titled(map->window)) {
                m_target = map->window;
                mapped = at;
            }
        } else if (type == XCB_UNMAP_NOTIFY) {
            const auto* unmap = reinterpret_cast<const xcb_unmap_notify_event_t*>(e);
            if (const auto it = m_windows.find(unmap->window); it != m_windows.end())
                it->second.mapped = false;
        } else if (type == XCB_PROPERTY_NOTIFY) {
            // A title set after the map.
            const auto* prop = reinterpret_cast<const xcb_property_notify_event_t*>(e);
            const auto it = m_windows.find(prop->window);
            if (m_target == XCB_WINDOW_NONE && it != m_windows.end() && it->second.mapped &&
                (prop->atom == XCB_ATOM_WM_NAME || prop->atom == m_netName) &&
                titled(prop->window)) {
                m_target = prop->window;
                mapped = at;
            }
        } else if (type == m_damageEvent) {
            const auto* damage = reinterpret_cast<const xcb_damage_notify_event_t*>(e);
            if (damage->drawable != m_target || m_pinged ||
                damage->sequence == m_windows[m_target].mapSequence)
                return false;
            painted = at;
            ping();
        } else if (type == XCB_CLIENT_MESSAGE) {
            const auto* msg = reinterpret_cast<const xcb_client_message_event_t*>(e);
            if (m_pinged && msg->window == m_root && msg->type == m_protocols &&
                msg->data.data32[0] == m_ping && msg->data.data32[1] == kPingStamp) {
                ready = at;
                return true;
            }
        }
        return false;
    }

    Clock::time_point mapped, painted, ready;

private:
    bool titled(xcb_window_t w) {
        const std::string name = property(m_c, w, m_netName, m_utf8);
        return (name.empty() ? property(m_c, w, XCB_ATOM_WM_NAME, XCB_ATOM_ANY) : name)
                   .find(m_title) != std::string::npos;
    }

    // Asks the program to answer through its event loop (the window
    // manager's ping, which every toolkit answers).
    void ping() {
        m_pinged = true;
        xcb_client_message_event_t ping{};
        ping.response_type = XCB_CLIENT_MESSAGE;
        ping.format = 32;
        ping.window = m_target;
        ping.type = m_protocols;
        ping.data.data32[0] = m_ping;
        ping.data.data32[1] = kPingStamp;
        ping.data.data32[2] = m_target;
        xcb_send_event(m_c, 0, m_target, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&ping));
        xcb_flush(m_c);
    }

    xcb_connection_t* m_c;
    std::string m_title;
    xcb_window_t m_root;
    xcb_atom_t m_protocols, m_ping, m_netName, m_utf8;
    int m_damageEvent;
    std::map<xcb_window_t, Window> m_windows;
    xcb_window_t m_target = XCB_WINDOW_NONE;
    bool m_pinged = false;
};

void stop(pid_t pid) {
    kill(pid, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        usleep(10000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench-startup-probe TITLE PROGRAM [ARGUMENT...]\n");
        return 2;
    }
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "bench-startup-probe: cannot connect to the X server\n");
        return 2;
    }
    std::unique_ptr<xcb_damage_query_version_reply_t, decltype(&std::free)> damage(
        xcb_damage_query_version_reply(c, xcb_damage_query_version(c, 1, 1), nullptr), &std::free);
    if (!damage) {
        std::fprintf(stderr, "bench-startup-probe: the X server has no DAMAGE extension\n");
        return 2;
    }
    Probe probe(c, argv[1]);
    const int fd = xcb_get_file_descriptor(c);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); // all set up

    const Clock::time_point start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        execvp(argv[2], argv + 2);
        std::fprintf(stderr, "bench-startup-probe: cannot run %s: %s\n", argv[2],
                     std::strerror(errno));
        _exit(127);
    }
    bool done = false;
    while (!done) {
        while (xcb_generic_event_t* e = xcb_poll_for_event(c)) {
            done = done || probe.handle(e, Clock::now());
            std::free(e);
        }
        if (done)
            break;
        if (xcb_connection_has_error(c) || waitpid(pid, nullptr, WNOHANG) == pid) {
            std::fprintf(stderr, "bench-startup-probe: %s ended before its window was ready\n",
                         argv[2]);
            return 1;
        }
        const auto left = kDeadline - (Clock::now() - start);
        if (left <= Clock::duration::zero()) {
            std::fprintf(stderr, "bench-startup-probe: no window \"%s\" in time\n", argv[1]);
            stop(pid);
            return 1;
        }
        pollfd p{fd, POLLIN, 0};
        poll(&p, 1,
             int(std::min<long long>(
                 100, std::chrono::duration_cast<std::chrono::milliseconds>(left).count())));
    }
    std::printf("mapped_ms=%.1f painted_ms=%.1f ready_ms=%.1f\n", msSince(start, probe.mapped),
                msSince(start, probe.painted), msSince(start, probe.ready));
    std::fflush(stdout);
    stop(pid);
    xcb_disconnect(c);
    return 0;
}
