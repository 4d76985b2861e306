// The engine's preview window: shows the latest encoded picture with its time as the caption.
// Driven from a worker thread; every window operation runs on the main thread through
// Synchronize. The window itself belongs to the program's window layer, which installs a
// factory for it at start-up (SetPreviewWindowFactory); without one (the command line) no
// window appears and ShowPicture returns false, which ends previewing.
#ifndef SOUNDPICK_FFBIND_PREVIEWER_H
#define SOUNDPICK_FFBIND_PREVIEWER_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TBitmap24;

// What the previewer needs of a window. Used on the main thread only.
class TPreviewWindow {
public:
    virtual ~TPreviewWindow() = default;
    // Shows the picture at the window's top-left corner with the caption; the first call also
    // sizes the window's client area to the picture, centres it and shows it on top. The
    // picture is valid during the call only.
    virtual void ShowPicture(const TBitmap24& picture, const std::string& caption) = 0;
};

// Makes a preview window; the window calls onClosed (main thread) when the user closes it.
using TPreviewWindowFactory =
    std::function<std::unique_ptr<TPreviewWindow>(std::function<void()> onClosed)>;

// Installs (or, with an empty function, removes) the factory; call on the main thread before
// any run starts.
void SetPreviewWindowFactory(TPreviewWindowFactory factory);

class TPreviewer {
public:
    TPreviewer();
    // Destroys the window on the main thread.
    ~TPreviewer();
    TPreviewer(const TPreviewer&) = delete;
    TPreviewer& operator=(const TPreviewer&) = delete;

    // Shows the picture (pts in microseconds or the library's no-value marker; the frame
    // number is not shown). The caller waits until the main thread has painted it. False once
    // the user has closed the window or when no window can be made; never reopens a window.
    bool ShowPicture(const TBitmap24& bitmap, int frameNumber, int64_t pts);
    bool Closed() const { return ClosedFlag->load(); }

private:
    void Paint(const TBitmap24& bitmap, int64_t pts);
    void CleanUp();

    std::unique_ptr<TPreviewWindow> Form; // main thread only
    // Shared with the window's close notification, which may come after this object is gone.
    std::shared_ptr<std::atomic<bool>> ClosedFlag;
};

// The caption for a picture time: its duration text, or "N/A" without a time.
std::string PreviewCaption(int64_t pts);

#endif
