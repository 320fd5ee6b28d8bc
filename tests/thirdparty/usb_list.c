/* Initialises libusb-1.0, lists the USB devices and exits cleanly:
 *
 *   usb_list
 *
 * Prints "version <major>.<minor>.<micro>", one "device <bus> <address>
 * <vid>:<pid>" line per device and "devices <n>". Exit 0 on success. */
#include <libusb.h>
#include <stdio.h>

int main(void) {
    const struct libusb_version *v = libusb_get_version();
    printf("version %u.%u.%u\n", v->major, v->minor, v->micro);
    libusb_context *ctx;
    int rc = libusb_init(&ctx);
    if (rc) {
        fprintf(stderr, "usb_list: libusb_init: %s\n", libusb_error_name(rc));
        return 1;
    }
    libusb_device **list;
    ssize_t n = libusb_get_device_list(ctx, &list);
    if (n < 0) {
        fprintf(stderr, "usb_list: libusb_get_device_list: %s\n", libusb_error_name((int)n));
        libusb_exit(ctx);
        return 1;
    }
    for (ssize_t i = 0; i < n; i++) {
        struct libusb_device_descriptor d;
        if (libusb_get_device_descriptor(list[i], &d) == 0)
            printf("device %u %u %04x:%04x\n", libusb_get_bus_number(list[i]),
                   libusb_get_device_address(list[i]), d.idVendor, d.idProduct);
    }
    printf("devices %d\n", (int)n);
    libusb_free_device_list(list, 1);
    libusb_exit(ctx);
    printf("exit ok\n");
    return 0;
}
