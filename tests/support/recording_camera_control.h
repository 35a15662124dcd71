#pragma once

#include <cstdint>
#include <vector>

// The knobs of the recording camera library that sits beside the test
// programs. The library is the very one FrameSender loads (dlopen hands out
// the same instance), so what the test sets is what the sender sees.
class RecordingCamera {
public:
    RecordingCamera();
    bool ok() const { return handle != nullptr; }

    void reset() { fn.reset(); }
    void setPacing(bool on) { fn.setPacing(on); }
    void setConnected(bool on) { fn.setConnected(on); }
    void setCreateFailures(int n) { fn.setCreateFailures(n); }
    void setSendDelayMs(int ms) { fn.setSendDelayMs(ms); }
    void captureFrames(int n) { fn.captureFrames(n); }
    int64_t frameCount() const { return fn.frameCount(); }
    int createCalls() const { return fn.createCalls(); }
    int deleteCalls() const { return fn.deleteCalls(); }
    bool cameraLive() const { return fn.cameraLive(); }
    int capturedCount() const { return fn.capturedCount(); }
    bool waitForFrames(int64_t n, int timeoutMs = 10000) const { return fn.waitForFrames(n, timeoutMs); }
    // index -1: the last frame sent.
    std::vector<uint8_t> frame(int index = -1) const;

private:
    void *handle = nullptr;
    struct {
        void (*reset)();
        void (*setPacing)(bool);
        void (*setConnected)(bool);
        void (*setCreateFailures)(int);
        void (*setSendDelayMs)(int);
        void (*captureFrames)(int);
        int64_t (*frameCount)();
        int (*createCalls)();
        int (*deleteCalls)();
        bool (*cameraLive)();
        int (*capturedCount)();
        bool (*waitForFrames)(int64_t, int);
        int64_t (*copyFrame)(int, uint8_t *, int64_t);
    } fn{};
};
