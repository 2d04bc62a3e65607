/* Prints the colour of one pixel of a PNG file as RRGGBB: png-colour FILE X Y. */
#include <cairo.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: png-colour FILE X Y\n");
        return 2;
    }
    cairo_surface_t* image = cairo_image_surface_create_from_png(argv[1]);
    int x = atoi(argv[2]), y = atoi(argv[3]);
    if (cairo_surface_status(image) != CAIRO_STATUS_SUCCESS || x < 0 || y < 0 ||
        x >= cairo_image_surface_get_width(image) || y >= cairo_image_surface_get_height(image)) {
        fprintf(stderr, "png-colour: %s has no pixel %d,%d\n", argv[1], x, y);
        return 1;
    }
    cairo_surface_flush(image);
    const unsigned char* row = cairo_image_surface_get_data(image) + (size_t)y * cairo_image_surface_get_stride(image);
    uint32_t pixel = ((const uint32_t*)row)[x];
    printf("%06X\n", pixel & 0xFFFFFF);
    cairo_surface_destroy(image);
    return 0;
}
