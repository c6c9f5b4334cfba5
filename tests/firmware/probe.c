/* The application the exchange table runs against: every byte it answers with is fixed, and
 * tests/firmware/probe.scenario gives the simulated MC the same memory. Built twice: with id
 * 0x2A (variables from the object file, write base 0x80) and, with -DPROBE_ADR, id 0x85
 * (address file, write base 0xE0 - COMSET_VAR_BEG). The driver is built with its EEPROM
 * hooks. */
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
/* The EEPROM the hooks serve (the driver is built with -DDL_EEPROM): 0xE0..0xE3 at 0..3, the
 * rest 0xFF as an erased EEPROM. */
__xdata __at(0x0200) unsigned char eeprom[256];

unsigned char dl_eeprom_read(unsigned int address) __reentrant {
    return eeprom[address & 0xFF];
}

void dl_eeprom_write(unsigned int address, unsigned char value) __reentrant {
    eeprom[address & 0xFF] = value;
}

void main(void) {
    k0 = 0x11;
    k1 = 0x22;
    k2 = 0x33;
    k3 = 0x44;
    P1 = 0xA5;
    P2 = 0x5C;
    x105 = 0x5A;
    x700 = 0x77;
    for (unsigned char i = 0; i != 0xFF; ++i) {
        eeprom[i] = i < 4 ? 0xE0 + i : 0xFF;
    }
    eeprom[0xFF] = 0xFF;
    dl_init();
    EA = 1;
    for (;;) {
    }
}
