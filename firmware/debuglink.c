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
/* EEPROM blocks: the address is dl_ee_high:COMSET_ADDR, the running sum BSR_DATA2PC (free
 * outside streaming), the bytes still to come dl_ee_count. */
#define DL_EE_REQUEST 4 /* after the handshake 0xF8: a block request */
#define DL_EE_READ_HIGH 5
#define DL_EE_READ_LOW 6
#define DL_EE_READ_CHECK 7
#define DL_EE_READ_ACK 8 /* the host's 0x00 after each data byte */
#define DL_EE_WRITE_HIGH 9
#define DL_EE_WRITE_LOW 10
#define DL_EE_WRITE_DATA 11
#define DL_EE_WRITE_CHECK 12

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

#ifdef DL_EEPROM
/* Two bytes defined in assembly, so that they carry no debug record and the scope does not
 * list them; the function is only their container and is never called. */
static void dl_ee_storage(void) __naked {
    // clang-format off
    __asm
    .area DSEG (DATA)
dl_ee_count:
    .ds 1
dl_ee_high:
    .ds 1
    .area CSEG (CODE)
    __endasm;
    // clang-format on
}
#endif

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
#ifdef DL_EEPROM
    dec a
    jz dl_value
    ljmp dl_ee_step
dl_value:
#endif
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
#ifdef DL_EEPROM
    cjne a,#0xF8,dl_command_page
dl_ee_handshake:
    ; ready for a block at the current rate
    mov _SBUF,#0x07
    mov _COMVAL_PEND,#DL_EE_REQUEST
    ljmp dl_out
dl_command_page:
#endif
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

#ifdef DL_EEPROM
    ; EEPROM blocks. A = COMVAL_PEND - 3 (COMVAL_PEND itself is already DL_FRESH), B = the
    ; received byte.
dl_ee_step:
    dec a
    jz dl_ee_request
    dec a
    jz dl_ee_read_high
    dec a
    jz dl_ee_read_low
    dec a
    jz dl_ee_read_check
    dec a
    jz dl_ee_read_ack
    dec a
    jz dl_ee_write_high
    dec a
    jz dl_ee_write_low
    dec a
    jnz dl_ee_write_check
    ljmp dl_ee_write_data
dl_ee_write_check:
    ; DL_EE_WRITE_CHECK: status 0 when the check byte completes the sum to 0
    mov a,_BSR_DATA2PC
    add a,b
    jz dl_ee_status
    mov a,#1
dl_ee_status:
    mov _SBUF,a
    ljmp dl_out

dl_ee_request:
    mov a,b
    cjne a,#0xF8,dl_ee_request_1
    ljmp dl_ee_handshake
dl_ee_request_1:
    ; 0x81..0x90: read n = 1..16 bytes; 0x01..0x10: write n bytes
    add a,#0x7F
    cjne a,#16,dl_ee_request_2
dl_ee_request_2:
    jnc dl_ee_request_3
    mov _COMVAL_PEND,#DL_EE_READ_HIGH
    sjmp dl_ee_count_n
dl_ee_request_3:
    mov a,b
    dec a
    cjne a,#16,dl_ee_request_4
dl_ee_request_4:
    jnc dl_ee_other
    mov _COMVAL_PEND,#DL_EE_WRITE_HIGH
dl_ee_count_n:
    inc a
    mov dl_ee_count,a
    mov _BSR_DATA2PC,a
    ljmp dl_out
dl_ee_other:
    ; not a block: the host has moved on, and the byte is a request of its own
    ljmp dl_fresh

dl_ee_read_high:
    mov _COMVAL_PEND,#DL_EE_READ_LOW
    sjmp dl_ee_high_byte
dl_ee_write_high:
    mov _COMVAL_PEND,#DL_EE_WRITE_LOW
dl_ee_high_byte:
    mov dl_ee_high,b
    sjmp dl_ee_header
dl_ee_read_low:
    mov _COMVAL_PEND,#DL_EE_READ_CHECK
    sjmp dl_ee_low_byte
dl_ee_write_low:
    mov _COMVAL_PEND,#DL_EE_WRITE_DATA
dl_ee_low_byte:
    mov _COMSET_ADDR,b
dl_ee_header:
    mov a,_BSR_DATA2PC
    add a,b
    mov _BSR_DATA2PC,a
    ljmp dl_out

dl_ee_read_check:
    ; a request whose check byte does not complete the sum to 0 gets no answer
    mov a,_BSR_DATA2PC
    add a,b
    jz dl_ee_send
    ljmp dl_out
dl_ee_read_ack:
    mov a,dl_ee_count
    jnz dl_ee_send
    mov _SBUF,_BSR_DATA2PC
    ljmp dl_out
dl_ee_send:
    lcall dl_ee_save
    mov dpl,_COMSET_ADDR
    mov dph,dl_ee_high
    lcall _dl_eeprom_read
    lcall dl_ee_restore
    mov a,dpl
    mov _SBUF,a
    add a,_BSR_DATA2PC
    mov _BSR_DATA2PC,a
    lcall dl_ee_advance
    mov _COMVAL_PEND,#DL_EE_READ_ACK
    ljmp dl_out

dl_ee_write_data:
    mov a,_BSR_DATA2PC
    add a,b
    mov _BSR_DATA2PC,a
    lcall dl_ee_save
    push b
    mov dpl,_COMSET_ADDR
    mov dph,dl_ee_high
    lcall _dl_eeprom_write
    dec sp
    lcall dl_ee_restore
    lcall dl_ee_advance
    mov _COMVAL_PEND,#DL_EE_WRITE_DATA
    mov a,dl_ee_count
    jnz dl_ee_write_more
    mov _COMVAL_PEND,#DL_EE_WRITE_CHECK
dl_ee_write_more:
    ljmp dl_out

    ; The hooks are C: they may use R1..R7 of bank 0 (R0 was saved on entry). These two move
    ; the return address around the saved registers.
dl_ee_save:
    pop dph
    pop dpl
    push 0x01
    push 0x02
    push 0x03
    push 0x04
    push 0x05
    push 0x06
    push 0x07
    push dpl
    push dph
    ret
dl_ee_restore:
    pop dph
    pop b
    pop 0x07
    pop 0x06
    pop 0x05
    pop 0x04
    pop 0x03
    pop 0x02
    pop 0x01
    push b
    push dph
    ret
    ; the next address, one byte less to come
dl_ee_advance:
    inc _COMSET_ADDR
    mov a,_COMSET_ADDR
    jnz dl_ee_advance_1
    inc dl_ee_high
dl_ee_advance_1:
    dec dl_ee_count
    ret
#endif

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
