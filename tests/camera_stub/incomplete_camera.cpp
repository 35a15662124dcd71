// A camera library that lacks scSendFrame: it must be refused as a whole.
#ifdef _WIN32
#define EXPORT extern "C" __declspec(dllexport)
#else
#define EXPORT extern "C" __attribute__((visibility("default")))
#endif

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
