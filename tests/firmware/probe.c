/* The application the exchange table runs against: every byte it answers with is fixed, and
 * tests/firmware/probe.scenario gives the simulated MC the same memory. Built twice: with id
 * 0x2A (variables from the object file, write base 0x80) and, with -DPROBE_ADR, id 0x85
 * (address file, write base 0xE0 - COMSET_VAR_BEG). */
#include <8051.h>

#include "debuglink.h"

#ifdef PROBE_ADR
DL_APPLICATION_ID(0x85);
#else
DL_APPLICATION_ID(0x2A);
#endif

__data __at(0x30) unsigned char k0;
__data __at(0x31) unsigned char k1;
__data __at(0x32) unsigned char k2;
__data __at(0x33) unsigned char k3;
__data __at(0x40) unsigned char COMSET_VAR_BEG;
__data __at(0x41) unsigned char s1;
__data __at(0x42) unsigned char s2;
__data __at(0x43) unsigned char s3;
__data __at(0x44) unsigned char COMSET_VAR_END;

__xdata __at(0x0105) unsigned char x105;
__xdata __at(0x0700) unsigned char x700;

void main(void) {
    k0 = 0x11;
    k1 = 0x22;
    k2 = 0x33;
    k3 = 0x44;
    P1 = 0xA5;
    P2 = 0x5C;
    x105 = 0x5A;
    x700 = 0x77;
    dl_init();
    EA = 1;
    for (;;) {
    }
}
