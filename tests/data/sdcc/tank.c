/* A small 8051 program whose object file the variable-table tests load: globals of every
 * memory kind, bits, special function registers and their bits, as SDCC lays them out.
 * tank.omf is what "sdcc --debug -mmcs51 tank.c" (SDCC 4.2) makes of it; regenerate.sh
 * rebuilds it. */

/* Special function registers and bits of them (bit addresses from 0x80 on). */
__sfr __at(0x80) P0;
__sfr __at(0x90) P1;
__sfr __at(0xA8) IE;
__sfr __at(0xD0) PSW;
__sbit __at(0x90) VALVE;  /* P1.0 */
__sbit __at(0x97) PUMP;   /* P1.7 */
__sbit __at(0xAF) EA;     /* IE.7 */
__sbit __at(0xD7) CY;     /* PSW.7 */
__sbit __at(0x83) SENSOR; /* P0.3 */

/* Bytes in the directly addressable RAM. */
unsigned char level;
unsigned char setpoint = 120;
unsigned int inflow;
long total;
signed char trend;
unsigned char history[8];
struct {
    unsigned char low;
    unsigned char high;
} limits;
__data unsigned char mode;
unsigned char a_rather_long_variable_name;
__data __at(0x30) unsigned char Calibration;
static unsigned char ticks;

/* Bits in the bit-addressable RAM (bit address n is bit n % 8 of byte 0x20 + n / 8). SDCC 4.2
 * writes no debug symbol for a bit it places itself, so the bits to watch are placed with
 * __at, here in the bytes 0x28 and up, away from the bits SDCC places. */
__bit __at(0x40) alarm;
__bit __at(0x41) overflow;
__bit __at(0x42) filling;
__bit __at(0x43) draining;
__bit __at(0x47) manual;
__bit __at(0x48) fault1;
__bit __at(0x4D) fault2;
__bit __at(0x57) fault3;
__bit __at(0x58) service;
static __bit blink; /* placed by SDCC: not in the object file's symbols */

/* Single bits of a byte variable in the bit-addressable RAM. */
__data __at(0x2C) unsigned char status;
__sbit __at(0x60) STATUS_READY; /* status.0 */
__sbit __at(0x67) STATUS_ERROR; /* status.7 */

/* Memory the debug link cannot read: indirect RAM, external RAM and code. */
__idata unsigned char deep[4];
__xdata unsigned char logbook[16];
__code const unsigned char curve[4] = {10, 40, 90, 160};

static void Step(void) {
    ++ticks;
    blink = !blink;
    history[ticks & 7] = level;
    logbook[ticks & 15] = level;
    deep[ticks & 3] = trend;
}

void main(void) {
    EA = 0;
    for (;;) {
        level = P0;
        trend = (signed char)(level - setpoint);
        filling = level < setpoint;
        draining = level > limits.high;
        VALVE = filling;
        PUMP = draining && !manual;
        alarm = SENSOR || fault1 || fault2 || fault3;
        overflow = CY;
        STATUS_READY = !alarm;
        STATUS_ERROR = fault1 || fault2;
        if (service && status) {
            mode = curve[mode & 3] + Calibration + a_rather_long_variable_name;
        }
        inflow += level;
        total += inflow;
        P1 = level;
        IE = PSW;
        Step();
    }
}
