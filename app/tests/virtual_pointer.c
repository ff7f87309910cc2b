/* Moves and clicks the pointer of a wlroots compositor for tests, with exact coordinates.
 *
 *   virtual_pointer WIDTH HEIGHT
 *
 * reads commands from stdin, one a line, and answers each with "ok" once the compositor has
 * taken it:  move X Y  (layout pixels of a WIDTH x HEIGHT layout)  |  press  |  release
 */
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

#include <wayland-client.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#define BUTTON_LEFT 0x110 /* BTN_LEFT of linux/input-event-codes.h */

static struct zwlr_virtual_pointer_manager_v1 *manager;

static void handle_global(void *data, struct wl_registry *registry, uint32_t name,
    const char *interface, uint32_t version)
{
    (void)data;
    (void)version;
    if (strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0)
        manager = wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1);
}

static void handle_global_remove(void *data, struct wl_registry *registry, uint32_t name)
{
    (void)data;
    (void)registry;
    (void)name;
}

static const struct wl_registry_listener registry_listener = {
    handle_global,
    handle_global_remove,
};

static uint32_t now_ms(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint32_t)(ts.tv_sec * 1000 + ts.tv_nsec / 1000000);
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: virtual_pointer WIDTH HEIGHT\n");
        return 2;
    }
    const unsigned width = (unsigned)strtoul(argv[1], NULL, 10);
    const unsigned height = (unsigned)strtoul(argv[2], NULL, 10);

    struct wl_display *display = wl_display_connect(NULL);
    if (!display) {
        fprintf(stderr, "virtual_pointer: no Wayland display\n");
        return 1;
    }
    struct wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registry_listener, NULL);
    wl_display_roundtrip(display);
    if (!manager) {
        fprintf(stderr, "virtual_pointer: the compositor offers no virtual pointers\n");
        return 1;
    }
    struct zwlr_virtual_pointer_v1 *pointer
        = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(manager, NULL);

    char line[128];
    while (fgets(line, sizeof line, stdin)) {
        unsigned x = 0;
        unsigned y = 0;
        if (sscanf(line, "move %u %u", &x, &y) == 2) {
            zwlr_virtual_pointer_v1_motion_absolute(pointer, now_ms(), x, y, width, height);
        } else if (strncmp(line, "press", 5) == 0) {
            zwlr_virtual_pointer_v1_button(
                pointer, now_ms(), BUTTON_LEFT, WL_POINTER_BUTTON_STATE_PRESSED);
        } else if (strncmp(line, "release", 7) == 0) {
            zwlr_virtual_pointer_v1_button(
                pointer, now_ms(), BUTTON_LEFT, WL_POINTER_BUTTON_STATE_RELEASED);
        } else {
            fprintf(stderr, "virtual_pointer: unknown command %s", line);
            return 2;
        }
        zwlr_virtual_pointer_v1_frame(pointer);
        if (wl_display_roundtrip(display) < 0) {
            fprintf(stderr, "virtual_pointer: the compositor went away\n");
            return 1;
        }
        printf("ok\n");
        fflush(stdout);
    }
    zwlr_virtual_pointer_v1_destroy(pointer);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return 0;
}
