// virtual_pointer: a pointer device for a headless wlroots compositor, which
// has no input devices of its own, for the Wayland end-to-end test.
//
//   virtual_pointer WIDTH HEIGHT
//
// WIDTH and HEIGHT are the logical size of the compositor's output layout.
// Commands come one a line on standard input:
//
//   move X Y       put the pointer at (X, Y) of the layout, in logical pixels
//   press B        press button B: 1 left, 2 middle, 3 right
//   release B      release it
//
// It answers "ready" once the pointer exists and "ok" once the compositor has
// taken each command, and keeps the pointer until its input ends. The device
// must outlive the presses: a pointer made and dropped for every event comes
// and goes before the program has bound it, and its presses reach nobody.

#include <linux/input-event-codes.h>
#include <wayland-client.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <sstream>
#include <string>

#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

namespace {

struct Globals {
    wl_seat* seat = nullptr;
    zwlr_virtual_pointer_manager_v1* manager = nullptr;
};

void onGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t /*version*/) {
    auto* globals = static_cast<Globals*>(data);
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && globals->seat == nullptr) {
        globals->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0) {
        globals->manager = static_cast<zwlr_virtual_pointer_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
    }
}

void onGlobalRemove(void* /*data*/, wl_registry* /*registry*/, std::uint32_t /*name*/) {}

const wl_registry_listener registryListener{onGlobal, onGlobalRemove};

// Qt tells a double click from two single presses by the events' time
// stamps, so they advance with the monotonic clock rather than stand still.
std::uint32_t nowMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

// Linux button codes, which is what Wayland carries.
std::uint32_t buttonCode(int button) {
    switch (button) {
        case 1: return BTN_LEFT;
        case 2: return BTN_MIDDLE;
        case 3: return BTN_RIGHT;
        default: return 0;
    }
}

bool parseSize(const char* text, std::uint32_t& size) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (end == text || *end != '\0' || value == 0 || value > 100000) {
        return false;
    }
    size = static_cast<std::uint32_t>(value);
    return true;
}

}  // namespace

int main(int argc, char* argv[]) {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    if (argc != 3 || !parseSize(argv[1], width) || !parseSize(argv[2], height)) {
        std::fprintf(stderr, "usage: virtual_pointer WIDTH HEIGHT\n");
        return 2;
    }
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "virtual_pointer: no Wayland display\n");
        return 1;
    }
    Globals globals;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &globals);
    wl_display_roundtrip(display);
    if (globals.manager == nullptr) {
        std::fprintf(stderr, "virtual_pointer: the compositor offers no zwlr_virtual_pointer_manager_v1\n");
        return 1;
    }
    zwlr_virtual_pointer_v1* pointer =
        zwlr_virtual_pointer_manager_v1_create_virtual_pointer(globals.manager, globals.seat);
    if (wl_display_roundtrip(display) < 0) {
        std::fprintf(stderr, "virtual_pointer: the compositor refused the pointer\n");
        return 1;
    }
    std::cout << "ready" << std::endl;

    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        std::string command;
        words >> command;
        if (command == "move") {
            // Absolute motion over the layout's own extent lands on whole
            // logical pixels, which is where the presses are meant to be.
            std::uint32_t x = 0;
            std::uint32_t y = 0;
            if (!(words >> x >> y) || x > width || y > height) {
                std::fprintf(stderr, "virtual_pointer: bad move: %s\n", line.c_str());
                return 2;
            }
            zwlr_virtual_pointer_v1_motion_absolute(pointer, nowMilliseconds(), x, y, width, height);
        } else if (command == "press" || command == "release") {
            int button = 0;
            if (!(words >> button) || buttonCode(button) == 0) {
                std::fprintf(stderr, "virtual_pointer: bad button: %s\n", line.c_str());
                return 2;
            }
            zwlr_virtual_pointer_v1_button(pointer, nowMilliseconds(), buttonCode(button),
                                           command == "press" ? WL_POINTER_BUTTON_STATE_PRESSED
                                                              : WL_POINTER_BUTTON_STATE_RELEASED);
        } else {
            std::fprintf(stderr, "virtual_pointer: unknown command: %s\n", line.c_str());
            return 2;
        }
        zwlr_virtual_pointer_v1_frame(pointer);
        if (wl_display_roundtrip(display) < 0) {
            std::fprintf(stderr, "virtual_pointer: lost the compositor\n");
            return 1;
        }
        std::cout << "ok" << std::endl;
    }

    zwlr_virtual_pointer_v1_destroy(pointer);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return 0;
}
