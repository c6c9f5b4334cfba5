/* The application the firmware benchmark runs in s51: an idle main loop that times its own
 * passes with timer 0 (one count per machine cycle). A pass the UART interrupt cut into is
 * longer than the shortest pass by the interrupt's whole cost (entry, handler, return), so
 * gap_max - gap_min is the most the driver took from the application for one byte. The
 * timer's overflows count simulated time (65536 machine cycles each). */
#include <8051.h>

#include "debuglink.h"

DL_APPLICATION_ID(0x2B);

__data __at(0x40) unsigned char COMSET_VAR_BEG;
__data __at(0x41) unsigned char COMSET_VAR_END;

__data __at(0x38) unsigned int gap_min;
__data __at(0x3A) unsigned int gap_max;
__data __at(0x3C) unsigned int overflows;

void main(void) {
    unsigned int last;
    unsigned int now;
    unsigned char high;
    gap_min = 0xFFFF;
    gap_max = 0;
    overflows = 0;
    TMOD = (TMOD & 0xF0) | 0x01;
    TR0 = 1;
    dl_init();
    EA = 1;
    do { /* the first pass then measures a pass, not the start-up */
        high = TH0;
        last = (high << 8) | TL0;
    } while (high != TH0);
    for (;;) {
        do {
            high = TH0;
            now = (high << 8) | TL0;
        } while (high != TH0);
        if (TF0) {
            TF0 = 0;
            ++overflows;
        }
        now -= last;
        last += now;
        if (now < gap_min) {
            gap_min = now;
        }
        if (now > gap_max) {
            gap_max = now;
        }
    }
}
