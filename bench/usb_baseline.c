/* The USB benchmark's baseline: the calls kx4hid.dll makes for send and
 * getAnswer, from plain C, against the simulated UPS of the tests
 * (tests/usb/fake_libusb.cpp, as libusb-1.0.dll beside this program, with
 * KX4_USB_SIM_BENCH set).
 *
 *   usb_baseline.exe <n> <rounds>
 *
 * Opens the UPS as kx4hid.dll does (the claim sequence included), then per
 * round times n control transfers (GET_REPORT of feature report 12, 2
 * bytes, into a fresh zeroed buffer as the module makes one) and n
 * interrupt reads of 8 bytes. Prints one line per round:
 *   send <us per call> getAnswer <us per call> */
#include <libusb.h>
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

static double nowUs(void) {
    static double perUs;
    LARGE_INTEGER c;
    if (!perUs) {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        perUs = (double)f.QuadPart / 1e6;
    }
    QueryPerformanceCounter(&c);
    return (double)c.QuadPart / perUs;
}

int main(int argc, char **argv) {
    int n = argc > 1 ? atoi(argv[1]) : 100000, rounds = argc > 2 ? atoi(argv[2]) : 5;
    libusb_context *ctx;
    libusb_device **list;
    libusb_device_handle *h = NULL;
    if (libusb_init(&ctx) != 0) return 1;
    ssize_t count = libusb_get_device_list(ctx, &list);
    if (count < 1 || libusb_open(list[0], &h) != 0) {
        fprintf(stderr, "usb_baseline: no simulated UPS (KX4_USB_SIM_BENCH, libusb-1.0.dll of the tests)\n");
        return 1;
    }
    int config = 0;
    if (libusb_get_configuration(h, &config) != 0 || config != 1) libusb_set_configuration(h, 1);
    libusb_claim_interface(h, 0);
    libusb_set_interface_alt_setting(h, 0, 0);
    libusb_clear_halt(h, 0x81);
    for (int r = 0; r < rounds; r++) {
        double t0 = nowUs();
        for (int i = 0; i < n; i++) {
            unsigned char *b = calloc(3, 1);
            if (libusb_control_transfer(h, 0xA1, 0x01, 0x030C, 0, b, 2, 5000) != 2) return 1;
            free(b);
        }
        double t1 = nowUs();
        for (int i = 0; i < n; i++) {
            unsigned char *b = calloc(9, 1);
            int got = 0;
            if (libusb_interrupt_transfer(h, 0x81, b, 8, &got, 5000) != 0 || got != 8) return 1;
            free(b);
        }
        double t2 = nowUs();
        printf("send %.3f getAnswer %.3f\n", (t1 - t0) / n, (t2 - t1) / n);
    }
    libusb_release_interface(h, 0);
    libusb_close(h);
    libusb_free_device_list(list, 1);
    libusb_exit(ctx);
    return 0;
}
