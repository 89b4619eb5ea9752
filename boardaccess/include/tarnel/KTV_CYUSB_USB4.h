/* Board-access library, handle-based variant (libKTV_CYUSB_USB4.so).
 * Every function returns 0 when done and a negative status when it failed;
 * a failure also writes one line naming the cause and the fix to stderr. */
#ifndef TARNEL_KTV_CYUSB_USB4_H
#define TARNEL_KTV_CYUSB_USB4_H

#include <stdint.h>

#define TARNEL_BOARD_LIST_BYTES 128

#ifdef __cplusplus
extern "C" {
#endif

/* Writes the number of boards with these ids to *board_count and one byte per
 * board, its board number, to board_list (TARNEL_BOARD_LIST_BYTES bytes). */
__attribute__((visibility("default"))) int32_t Search_For_Boards(uint32_t vendor_id, uint32_t product_id,
                                                                 int32_t *board_count, uint8_t *board_list);

/* Opens board board_number and writes its handle (> 0) to *handle, or 0 when
 * it fails. */
__attribute__((visibility("default"))) int32_t Connect(uint32_t vendor_id, uint32_t product_id,
                                                       uint8_t board_number, int32_t *handle);

/* Validates the Intel HEX file at path and loads it into the board's RAM. */
__attribute__((visibility("default"))) int16_t Download_Firmware(int32_t handle, const char *path);

/* One vendor request; direction 0 sends length bytes from data to the board,
 * 1 reads length bytes from the board into data. Request 0xB0 from the board
 * is answered by the library: the board's USB port path ("1-1.2"), NUL-padded. */
__attribute__((visibility("default"))) int16_t Vendor_Request(int32_t handle, uint8_t request, uint16_t value,
                                                              uint16_t index, uint8_t direction, uint16_t length,
                                                              uint8_t *data);

#ifdef __cplusplus
}
#endif

#endif
