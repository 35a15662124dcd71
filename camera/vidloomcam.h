/* libvidloomcam: Vidloom's virtual camera on Linux.
 *
 * Frames go to the v4l2loopback device labelled "Vidloom" as YUYV 4:2:2
 * (BT.601, limited range), which is what webcam clients accept. The device
 * may be missing when a camera is created, or come and go while it lives:
 * the camera attaches whenever the device is there and keeps pacing either
 * way. One camera exists at a time. */
#ifndef VIDLOOMCAM_H
#define VIDLOOMCAM_H

#include <stdbool.h>

#if defined(__GNUC__)
#define VIDLOOMCAM_API __attribute__((visibility("default")))
#else
#define VIDLOOMCAM_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A camera of width x height pixels at framerate frames per second, or null
 * if the size is unusable (width must be even; both sides 64 to 7680), the
 * rate is not above 0 and at most 1000, or a camera already exists. */
VIDLOOMCAM_API void *scCreateCamera(int width, int height, float framerate);

/* Closes the device and frees the camera; null is ignored. */
VIDLOOMCAM_API void scDeleteCamera(void *camera);

/* Sends one frame of width x height x 3 bytes, blue, green, red per pixel,
 * top row first. Returns when the next frame is due, so the caller may send
 * back to back. True if the frame reached the device. */
VIDLOOMCAM_API bool scSendFrame(void *camera, const void *imageBits);

/* Sends one frame already in the device's format: width x height x 2 bytes
 * of YUYV 4:2:2 (Y0 U Y1 V per pixel pair, BT.601 limited range), top row
 * first. Paces and returns like scSendFrame. Callers look this function up
 * and fall back to scSendFrame when a library lacks it. */
VIDLOOMCAM_API bool scSendFrameYuyv(void *camera, const void *yuyv);

/* Waits until another program reads the camera, at most timeoutSeconds
 * (0 or less: without limit). True if one does. Readers can only come once
 * frames are being sent. */
VIDLOOMCAM_API bool scWaitForConnection(void *camera, float timeoutSeconds);

/* True while another program reads the camera. Cheap enough to poll. */
VIDLOOMCAM_API bool scIsConnected(void *camera);

/* Whether the frames sent reach the device, and if not, why. */
typedef enum scStatus {
    SC_STATUS_SENDING = 0,        /* they do */
    SC_STATUS_NOT_REGISTERED = 1, /* no v4l2loopback device labelled "Vidloom" */
    SC_STATUS_BUSY = 2,           /* another program produces on it, or it takes no more openers */
    SC_STATUS_OTHER_SIZE = 3,     /* a reader holds it at another size */
    SC_STATUS_REFUSED = 4,        /* it refused the format, the rate or a frame */
    SC_STATUS_NO_PERMISSION = 5   /* this user may not open it */
} scStatus;

/* The camera's status as of its last attempt to reach the device (at
 * creation, then as frames are sent). With SC_STATUS_OTHER_SIZE, *width and
 * *height (when not null) get the size the device is held at. Optional:
 * callers look it up and do without it when it is missing. */
VIDLOOMCAM_API int scGetStatus(void *camera, int *width, int *height);

/* Standby: while no camera exists, keeps the device listed and showing the
 * placeholder picture (Vidloom's icon over "NO VIDEO PLAYING") at width x
 * height, advertised at framerate. A missing or busy device is tried again
 * once a second. Starting again with another size or rate restarts it;
 * scCreateCamera ends it, and deleting that camera does not bring it back.
 * False, and nothing started, for an unusable size or rate (as for
 * scCreateCamera) or while a camera exists. Both optional: callers look
 * them up and do without. */
VIDLOOMCAM_API bool scStartStandby(int width, int height, float framerate);

/* Ends the standby, if any; returns once the device is let go. */
VIDLOOMCAM_API void scStopStandby(void);

#ifdef __cplusplus
}
#endif

#endif /* VIDLOOMCAM_H */
