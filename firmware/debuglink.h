/* debuglink: the 8051 side of the debug link of OMBRIX and TARNEL, for SDCC (-mmcs51).
 * The whole integration:
 *
 *     #include "debuglink.h"       // also installs the UART interrupt (vector 4)
 *     DL_APPLICATION_ID(42);       // the id the scope looks up in applid.inc
 *     __data __at(0x40) unsigned char COMSET_VAR_BEG;
 *     __data __at(0x41) unsigned char setpoint; // settable from the PC
 *     __data __at(0x42) unsigned char COMSET_VAR_END;
 *     void main(void) { dl_init(); EA = 1; for (;;) { ... } }
 *
 *     sdcc -c --debug -mmcs51 debuglink.c
 *     sdcc --debug -mmcs51 app.c debuglink.rel      (app.omf for the scope)
 *
 * The file holding main() must include this header: SDCC installs an interrupt vector only
 * for a handler whose prototype it sees there.
 *
 * Memory map, as the PC addresses it (page p, low byte L):
 *   page 0, L < 0x80     internal data RAM 0x00..0x7F
 *   page 0, L >= 0x80    special function registers (direct addressing); ACC, B, PSW, DPL,
 *                        DPH and SP read as the driver's own values while it answers
 *   pages 1..7           external data memory p * 256 + L (MOVX); build the library with
 *                        -DDL_XDATA_PAGE_OFFSET=k to read (p + k) * 256 + L instead, or with
 *                        -DDL_PAGE1_IDATA to read page 1 from internal RAM 0x00..0xFF
 *                        through R0 (the upper 128 bytes of an 8052)
 * Writes reach only internal RAM from COMSET_VAR_BEG up to below COMSET_VAR_END (both below
 * 0x80; in an address file at most 16 bytes, as the request bytes 0xE0..0xEF allow), and the
 * driver's COM_VARX. The write base follows the application id: 0x80
 * for ids below 0x80 except 7 (variables from the object file), else 0xE0 minus the address
 * of COMSET_VAR_BEG (an address file that lists COMSET_VAR_BEG).
 *
 * Budgets (firmware/build.sh measures and prints them): 695 bytes of code, 4 bytes and 2 bits
 * of internal RAM, 10 bytes of stack inside the interrupt; with the EEPROM hooks 977 bytes,
 * 6 bytes and 2 bits, 18 bytes of stack plus the hooks' own.
 */
#ifndef DEBUGLINK_H
#define DEBUGLINK_H

/* The application's id: defined once, in the application. */
#define DL_APPLICATION_ID(id) const __code unsigned char dl_appl_id = (id)
extern const __code unsigned char dl_appl_id;

/* The application defines COMSET_VAR_BEG and COMSET_VAR_END with __at, the settable bytes
 * between them; the driver takes their addresses at link time. */

/* The driver's own state; the scope knows these names and leaves them out of its lists. */
extern __data unsigned char COM_VARX;    /* streaming: page-0 address of the x-variable */
extern __data unsigned char COMSET_ADDR; /* the address a pending write or page read targets */
extern __data unsigned char COMVAL_PEND; /* what the next received byte means */
extern __data unsigned char BSR_DATA2PC; /* the reply byte waiting for the transmitter */

/* Starts the UART at 9600 baud from an 11.0592 MHz crystal (timer 1 in mode 2; timer 0's
 * mode bits are kept) and enables its interrupt; the application sets EA. */
void dl_init(void);

/* The UART handler; the prototype here is what places it on vector 4. */
void dl_uart_isr(void) __interrupt(4) __naked;

/* EEPROM block access (handshake 0xF8), when the driver is built with -DDL_EEPROM
 * (DL_OPTIONS=-DDL_EEPROM firmware/build.sh ...): the application defines these two and the
 * interrupt calls them, in register bank 0 with R1..R7 saved for them; __reentrant keeps
 * their arguments and locals on the stack, away from the application's overlay. A block
 * write calls dl_eeprom_write as each byte arrives, before the block's check byte. */
unsigned char dl_eeprom_read(unsigned int address) __reentrant;
void dl_eeprom_write(unsigned int address, unsigned char value) __reentrant;

#endif
