/* OVEN: the application of the scope's second and third demos, a small oven controller for an
 * 8051, built with SDCC and the debug-link driver of firmware/:
 *
 *     firmware/build.sh OUT demo/sdcc/oven.c       (demo/sdcc/build.sh does it and keeps
 *                                                  oven.omf, oven.cdb and oven.rst)
 *
 * makes oven.ihx, the program, oven.omf, and oven.cdb, SDCC's debug file, which gives the scope
 * every variable below with its type (ticks is a u16), and the registers. "scripts/demo firmware" runs the program in the 8051 simulator s51 and the
 * scope on its UART; "scripts/demo sdcc" runs the simulated MC of oven.scenario instead, which
 * moves these variables as the program would. */
#include <8051.h>

#include "debuglink.h"

DL_APPLICATION_ID(42); /* APPL_OVEN in applid.inc */

/* The debug link lets the PC set the bytes between COMSET_VAR_BEG and COMSET_VAR_END; the
 * scope offers them in its setters. */
__data __at(0x40) unsigned char COMSET_VAR_BEG;
__data __at(0x41) unsigned char setpoint;  /* oven temperature wanted, degrees C */
__data __at(0x42) unsigned char fan_level; /* 0 off .. 3 full */
__data __at(0x43) unsigned char timer;     /* minutes */
__data __at(0x44) unsigned char COMSET_VAR_END;

unsigned char temperature; /* measured, degrees C */
unsigned char power;       /* heater duty, percent */
unsigned char fan_speed;
unsigned int ticks;        /* 10 ms */
unsigned char seconds;
unsigned char minutes_left;
unsigned char errors;
unsigned char beat; /* +4 per timer tick, so a recording can tell that every value is the C's */

/* SDCC 4.2 writes debug symbols only for bits placed with __at (bit address n is bit n % 8 of
 * byte 0x20 + n / 8), and for __at variables without an initial value. */
__bit __at(0x40) door_open;
__bit __at(0x41) heating;
__bit __at(0x42) light;
__bit __at(0x43) overheat;

__sbit __at(0x90) HEATER; /* P1.0 */
__sbit __at(0x91) FAN;    /* P1.1 */
__sbit __at(0x92) LAMP;   /* P1.2 */

static unsigned char ReadTemperature(void) {
#ifdef OVEN_CONVERTER
    return P0; /* an 8-bit converter on port 0 */
#else
    /* No converter (as in the simulator): the oven is modelled. It heats with the power and
     * cools slowly towards 20 degrees. */
    if (power > 0) {
        return temperature + 1 + power / 25;
    }
    if (temperature > 20 && (ticks & 7) == 0) {
        return temperature - 1;
    }
    return temperature;
#endif
}

void main(void) {
    setpoint = 180;
    fan_level = 2;
    timer = 30;
    minutes_left = timer;
    temperature = 20;
    TMOD = (TMOD & 0xF0) | 0x01;
    TR0 = 1;
    dl_init();
    EA = 1;
    for (;;) {
        if (!TF0) {
            continue;
        }
        /* 10 ms: 9216 machine cycles of an 11.0592 MHz 8051 */
        TR0 = 0;
        TH0 = 0xDC;
        TL0 = 0x00;
        TR0 = 1;
        TF0 = 0;
        ++ticks;
        beat += 4;
        door_open = !P3_2; /* the door switch pulls P3.2 low */
        temperature = ReadTemperature();
        overheat = temperature > setpoint + 20;
        heating = !door_open && !overheat && temperature < setpoint;
        /* 4 % per degree below the setpoint, at most 100 % (limited before it is narrowed) */
        power = !heating ? 0 : setpoint - temperature >= 25 ? 100 : (setpoint - temperature) * 4;
        fan_speed = fan_level * 80;
        HEATER = heating;
        FAN = fan_level != 0 && !door_open;
        light = door_open || timer == 0;
        LAMP = light;
        if (ticks % 100 == 0 && ++seconds == 60) {
            seconds = 0;
            if (minutes_left) {
                --minutes_left;
            }
        }
        if (overheat) {
            ++errors;
        }
    }
}
