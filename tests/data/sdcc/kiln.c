/* A small 8051 program whose SDCC debug file (kiln.cdb) the variable-table tests load: every
 * kind of variable SDCC describes there, with the types the scope reads whole. kiln.cdb is what
 * "sdcc --debug -mmcs51 kiln.c" (SDCC 4.2) writes; regenerate.sh rebuilds it. */

/* Special function registers, a 16-bit pair of them, and bits of them. */
__sfr __at(0x80) P0;
__sfr __at(0xD0) PSW;
__sfr16 __at(0x8C8A) TMR0;
__sbit __at(0x83) SENSOR; /* P0.3 */
__sbit __at(0xD7) CY;     /* PSW.7 */

/* Globals SDCC places itself, of every width, initialised or not. */
unsigned char level;
signed char trend;
unsigned int ticks;
int speed = -5;
unsigned long uptime;
long total;
float gain = 1.5f;
unsigned int samples[3];
struct zone {
    unsigned char low;
    int temp;
    unsigned char hist[2];
} zone;
struct point {
    signed char x;
    signed char y;
} points[2];
struct {
    unsigned char mode : 3;
    unsigned char gear : 5;
} setting;
__data unsigned char *cursor;
unsigned char *anywhere;
__data __at(0x60) unsigned char calib;
static unsigned char count;

/* Bits: placed by SDCC, and placed with __at (bit n is bit n % 8 of byte 0x20 + n / 8). */
__bit ready;
static __bit blink;
__bit __at(0x48) alarm;

/* Memory the debug link cannot read, or reads only in part. */
__idata unsigned char scratch[2];
__idata __at(0x90) unsigned char deep;
__xdata unsigned int logcount;
__xdata __at(0x0200) unsigned int xcount;
__xdata __at(0x07FE) unsigned long straddle;
__pdata unsigned char ppage;
__code const unsigned char curve[4] = {10, 40, 90, 160};

static unsigned char Step(unsigned char in) {
    static unsigned char calls;
    static __bit toggled;
    unsigned char twice = in * 2;
    ++calls;
    toggled = !toggled;
    return twice + calls;
}

void main(void) {
    for (;;) {
        level = P0;
        trend = (signed char)(level - calib);
        ticks += level;
        speed -= trend;
        uptime += ticks;
        total -= speed;
        gain = gain * 1.5f;
        samples[ticks & 1] = ticks;
        zone.low = level;
        zone.temp = speed;
        zone.hist[level & 1] = level;
        points[level & 1].x = trend;
        points[1].y = trend;
        setting.mode = level;
        setting.gear = trend;
        cursor = &level;
        anywhere = &level;
        ++count;
        ready = SENSOR;
        blink = !blink;
        alarm = CY;
        scratch[level & 1] = level;
        deep = level;
        logcount += level;
        xcount += level;
        straddle += level;
        ppage = level;
        P0 = curve[level & 3] + Step(level) + (unsigned char)TMR0;
    }
}
