/* debuglink: the 8051 side of the debug link (see debuglink.h for the integration and the map).
 *
 * The PC sends one request byte and waits for the reply before it sends the next, so the
 * interrupt answers each received byte at once and keeps between bytes only what the next
 * byte means (COMVAL_PEND) and the address it concerns (COMSET_ADDR). The handler is written
 * in assembly because a special function register can only be read by direct addressing: a
 * table of "MOV A,direct; RET" entries, one per SFR address, serves any SFR the object file
 * lists. It is also what keeps the interrupt short and its stack use known.
 *
 * Options, given when the library is compiled:
 *   -DDL_XDATA_PAGE_OFFSET=k   pages 1..7 read external data memory (p + k) * 256 + L
 *   -DDL_PAGE1_IDATA           page 1 reads internal RAM 0x00..0xFF indirectly
 *   -DDL_TH1=v                 timer 1 reload for another crystal or rate (0xFD: 9600 baud
 *                              at 11.0592 MHz) */
#include <8051.h>

#include "debuglink.h"

#ifndef DL_XDATA_PAGE_OFFSET
#define DL_XDATA_PAGE_OFFSET 0
#endif
#ifndef DL_TH1
#define DL_TH1 0xFD
#endif

/* COMVAL_PEND: what the next received byte is. */
#define DL_FRESH 0   /* a new request */
#define DL_ARMED 1   /* after the attention byte: maybe a write request */
#define DL_PAGE 2    /* the low address byte after a page step (page in COMSET_ADDR) */
#define DL_VALUE 3   /* the value of a write (address in COMSET_ADDR) */

/* Eight entries of the SFR table: MOV A,direct (0xE5 d) and RET (0x22). */
#define DL_SFR(d) 0xE5, (d), 0x22
#define DL_SFR_ROW(d) .db DL_SFR(d), DL_SFR(d + 1), DL_SFR(d + 2), DL_SFR(d + 3), DL_SFR(d + 4), DL_SFR(d + 5), DL_SFR(d + 6), DL_SFR(d + 7)

__data unsigned char COM_VARX;
__data unsigned char COMSET_ADDR;
__data unsigned char COMVAL_PEND;
__data unsigned char BSR_DATA2PC;
/* Bits placed by the linker carry no debug record, so the scope does not list them. */
__bit dl_streaming; /* a write of COM_VARX started streaming; the attention byte ends it */
__bit dl_second;    /* BSR_DATA2PC goes out when the transmitter is free */

void dl_init(void) {
    ES = 0;
    COMVAL_PEND = DL_FRESH;
    dl_streaming = 0;
    dl_second = 0;
    SCON = 0x50; /* mode 1, receiver on */
    TMOD = (TMOD & 0x0F) | 0x20;
    TH1 = DL_TH1;
    TL1 = DL_TH1;
    TR1 = 1;
    RI = 0;
    TI = 0;
    ES = 1;
}

/* Registers: the handler saves what it touches and works in register bank 0 whatever bank
 * it interrupted, saving bank 0's R0 by its address. The received byte stays in B. */
void dl_uart_isr(void) __interrupt(4) __naked {
    // clang-format off
    __asm
    push psw
    push acc
    jbc _RI,dl_rx
    jbc _TI,dl_tx
    pop acc
    pop psw
    reti
dl_tx:
    jbc _dl_second,dl_tx_second
    pop acc
    pop psw
    reti
dl_tx_second:
    mov _SBUF,_BSR_DATA2PC
    pop acc
    pop psw
    reti

dl_rx:
    push b
    push dpl
    push dph
    push 0x00
    mov psw,#0x00
    mov b,_SBUF
    mov a,_COMVAL_PEND
    mov _COMVAL_PEND,#DL_FRESH
    jz dl_fresh
    dec a
    jz dl_armed
    dec a
    jz dl_page
    ; the value of a write: lands and is echoed
    mov r0,_COMSET_ADDR
    mov @r0,b
    mov _SBUF,b
    cjne r0,#_COM_VARX,dl_value_done
    setb _dl_streaming
dl_value_done:
    ljmp dl_out

dl_page:
    mov a,_COMSET_ADDR
    jnz dl_page_high
    mov a,b
    lcall dl_read0
    mov _SBUF,a
    ljmp dl_out
dl_page_high:
#ifdef DL_PAGE1_IDATA
    cjne a,#1,dl_xdata
    mov r0,b
    mov a,@r0
    mov _SBUF,a
    ljmp dl_out
dl_xdata:
#endif
    add a,#DL_XDATA_PAGE_OFFSET
    mov dph,a
    mov dpl,b
    movx a,@dptr
    mov _SBUF,a
    ljmp dl_out

dl_armed:
    ; a write request is base + address, for an address inside the window or COM_VARX;
    ; the attention byte and the commands from 0xF0 on keep their meaning
    mov a,b
    cjne a,#0x07,dl_armed_1
    sjmp dl_fresh
dl_armed_1:
    cjne a,#0xF0,dl_armed_2
dl_armed_2:
    jnc dl_fresh
    mov dptr,#_dl_appl_id
    clr a
    movc a,@a+dptr
    cjne a,#0x07,dl_armed_3
    sjmp dl_base_adr
dl_armed_3:
    jb acc.7,dl_base_adr
    mov a,b
    add a,#0x80
    sjmp dl_have_address
dl_base_adr:
    ; address = request - (0xE0 - COMSET_VAR_BEG)
    mov a,b
    add a,#0x20
    add a,#_COMSET_VAR_BEG
dl_have_address:
    mov r0,a
    cjne a,#_COM_VARX,dl_window
    sjmp dl_write_ok
dl_window:
    clr c
    subb a,#_COMSET_VAR_BEG
    jc dl_fresh
    mov a,r0
    clr c
    subb a,#_COMSET_VAR_END
    jnc dl_fresh
dl_write_ok:
    mov _COMSET_ADDR,r0
    mov _COMVAL_PEND,#DL_VALUE
    mov _SBUF,r0
    ljmp dl_out

dl_fresh:
    mov a,b
    jnb _dl_streaming,dl_request
    cjne a,#0x07,dl_sample
    clr _dl_streaming
    sjmp dl_attention
dl_sample:
    ; the requested byte and the x-variable, with no application code between them
    lcall dl_read0
    mov _SBUF,a
    mov a,_COM_VARX
    lcall dl_read0
    mov _BSR_DATA2PC,a
    setb _dl_second
    ljmp dl_out

dl_request:
    cjne a,#0x07,dl_request_1
dl_attention:
    mov dptr,#_dl_appl_id
    clr a
    movc a,@a+dptr
    mov _SBUF,a
    mov _COMVAL_PEND,#DL_ARMED
    ljmp dl_out
dl_request_1:
    cjne a,#0xE0,dl_request_2
dl_request_2:
    jnc dl_command
    lcall dl_read0
    mov _SBUF,a
    ljmp dl_out
dl_command:
    ; 0xF0 + p (p = 0..7) is a page step, answered with p * 16; other commands go unanswered
    add a,#0x10
    jnc dl_out
    cjne a,#0x08,dl_command_1
dl_command_1:
    jnc dl_out
    mov _COMSET_ADDR,a
    swap a
    mov _SBUF,a
    mov _COMVAL_PEND,#DL_PAGE
dl_out:
    pop 0x00
    pop dph
    pop dpl
    pop b
    pop acc
    pop psw
    reti

    ; A = the byte at page-0 address A: internal RAM below 0x80, an SFR from 0x80 on.
    ; Uses R0, B and DPTR.
dl_read0:
    jb acc.7,dl_read_sfr
    mov r0,a
    mov a,@r0
    ret
dl_read_sfr:
    anl a,#0x7F
    mov b,#3
    mul ab
    add a,#<dl_sfr_table
    mov dpl,a
    mov a,b
    addc a,#>dl_sfr_table
    mov dph,a
    clr a
    jmp @a+dptr
dl_sfr_table:
    DL_SFR_ROW(0x80)
    DL_SFR_ROW(0x88)
    DL_SFR_ROW(0x90)
    DL_SFR_ROW(0x98)
    DL_SFR_ROW(0xA0)
    DL_SFR_ROW(0xA8)
    DL_SFR_ROW(0xB0)
    DL_SFR_ROW(0xB8)
    DL_SFR_ROW(0xC0)
    DL_SFR_ROW(0xC8)
    DL_SFR_ROW(0xD0)
    DL_SFR_ROW(0xD8)
    DL_SFR_ROW(0xE0)
    DL_SFR_ROW(0xE8)
    DL_SFR_ROW(0xF0)
    DL_SFR_ROW(0xF8)
    __endasm;
    // clang-format on
}
