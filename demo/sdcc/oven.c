/* OVEN: the application of the scope's second demo, a small oven controller for an 8051,
 * built with SDCC:
 *
 *     sdcc --debug -mmcs51 oven.c
 *
 * makes oven.omf, whose debug records give the scope every DATA byte and bit below. The demo
 * runs no real MC: the simulated one of oven.scenario moves these variables as the program
 * would. build.sh rebuilds oven.omf. */
#include <8051.h>

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
    return P0; /* an 8-bit converter on port 0 */
}

void main(void) {
    setpoint = 180;
    fan_level = 2;
    timer = 30;
    minutes_left = timer;
    TMOD = 0x01;
    TR0 = 1;
    for (;;) {
        if (!TF0) {
            continue;
        }
        TF0 = 0;
        ++ticks;
        door_open = P3_2;
        temperature = ReadTemperature();
        overheat = temperature > setpoint + 20;
        heating = !door_open && !overheat && temperature < setpoint;
        power = heating ? (unsigned char)((setpoint - temperature) * 4) : 0;
        if (power > 100) {
            power = 100;
        }
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
