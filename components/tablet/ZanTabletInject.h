/* Test-only packet injection of ZanTablet4.ocx.
 *
 *   int WINAPI ZanTablet_InjectPacket(HWND attached, const ZANTABLET_PACKET* packet)
 *
 * Hands a packet to the tablet component attached to `attached` as if its device had
 * reported it: it goes into the same queue and comes out through the same events, posted
 * to the attaching thread and delivered by its message loop. Returns 1 when a component is
 * attached to that window and took the packet, else 0. Positions are screen coordinates in
 * quarter pixels, as a device reports them; the component maps them to the window.
 */
#ifndef ZANTABLETINJECT_H
#define ZANTABLETINJECT_H

#include <windows.h>

#define ZANTABLET_SAMPLE 0    /* a pen position */
#define ZANTABLET_PROXIMITY 1 /* the pen came near (inRange 1) or went away (0) */

#define ZANTABLET_CURSOR_PEN 1
#define ZANTABLET_CURSOR_ERASER 2
#define ZANTABLET_CURSOR_PUCK 3

#define ZANTABLET_TIP 1   /* buttons: the tip touches */
#define ZANTABLET_SIDE1 2 /* the first side switch */
#define ZANTABLET_SIDE2 4 /* the second side switch */

typedef struct ZANTABLET_PACKET {
  UINT size;      /* sizeof(ZANTABLET_PACKET) */
  int kind;       /* ZANTABLET_SAMPLE or ZANTABLET_PROXIMITY */
  int cursor;     /* ZANTABLET_CURSOR_* */
  int buttons;    /* ZANTABLET_TIP | ZANTABLET_SIDE1 | ZANTABLET_SIDE2 */
  int inRange;    /* proximity packets */
  LONG x, y;      /* screen position, quarter pixels */
  LONG pressure;  /* 0 .. 65535 */
  LONG wheel;
  SHORT azimuth, altitude, twist;
  DWORD time;     /* milliseconds, any origin */
  int deviceId;
} ZANTABLET_PACKET;

typedef int(WINAPI* ZanTablet_InjectPacket_t)(HWND attached, const ZANTABLET_PACKET* packet);

#endif
