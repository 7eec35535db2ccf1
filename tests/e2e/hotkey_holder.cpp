// Holds a passive key grab on the root window, as another program that owns a global key
// combination would, until it is killed.
//
// hotkey_holder KEYCODE MODIFIERS
//
// MODIFIERS is the X core modifier mask (Mod4 = 64 for Super). The key is grabbed with each
// lock variant (none, CapsLock, Mod2 for NumLock, both), as a careful program does. Prints
// "grabbed" once every grab succeeded, or "refused" and exits 1.
#include <cstdio>
#include <cstdlib>
#include <xcb/xcb.h>

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: hotkey_holder KEYCODE MODIFIERS\n");
        return 2;
    }
    const int keycode = atoi(argv[1]);
    const int modifiers = atoi(argv[2]);
    int screen_number = 0;
    xcb_connection_t *c = xcb_connect(nullptr, &screen_number);
    if (!c || xcb_connection_has_error(c)) {
        fprintf(stderr, "hotkey_holder: cannot open the display\n");
        return 1;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screen_number && it.rem; ++i)
        xcb_screen_next(&it);
    const xcb_window_t root = it.data->root;
    const uint16_t locks[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2, XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};
    for (int i = 0; i < 4; ++i) {
        xcb_generic_error_t *e = xcb_request_check(c, xcb_grab_key_checked(c, 1, root, uint16_t(modifiers | locks[i]),
                                                                           xcb_keycode_t(keycode), XCB_GRAB_MODE_ASYNC,
                                                                           XCB_GRAB_MODE_ASYNC));
        if (e) {
            printf("refused\n");
            fflush(stdout);
            free(e);
            return 1;
        }
    }
    printf("grabbed\n");
    fflush(stdout);
    // Keep the connection (and so the grab) until killed; swallow the grabbed key's events.
    xcb_generic_event_t *event;
    while ((event = xcb_wait_for_event(c)) != nullptr)
        free(event);
    return 0;
}
