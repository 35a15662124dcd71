// A camera library that lacks scSendFrame: it must be refused as a whole.
#define EXPORT extern "C" __attribute__((visibility("default")))

static int dummy;

EXPORT void *scCreateCamera(int, int, float)
{
    return &dummy;
}

EXPORT void scDeleteCamera(void *)
{
}

EXPORT bool scIsConnected(void *)
{
    return true;
}
