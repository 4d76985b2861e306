// The preview window's state machine: no window, shown, closed by the user.
#include "Previewer.h"

#include "FFUtils.h"
#include "MainThread.h"

#include <mutex>
#include <utility>

namespace {

std::mutex FactoryLock;
TPreviewWindowFactory& Factory() {
    static TPreviewWindowFactory factory;
    return factory;
}

} // namespace

void SetPreviewWindowFactory(TPreviewWindowFactory factory) {
    std::lock_guard<std::mutex> guard(FactoryLock);
    Factory() = std::move(factory);
}

std::string PreviewCaption(int64_t pts) {
    return pts == AV_NOPTS_VALUE ? std::string("N/A") : DurationText(pts);
}

TPreviewer::TPreviewer() : ClosedFlag(std::make_shared<std::atomic<bool>>(false)) {}

TPreviewer::~TPreviewer() {
    try {
        Synchronize([this] { CleanUp(); });
    } catch (...) {
        // A window that fails to go away must not take the engine down with it.
    }
}

bool TPreviewer::ShowPicture(const TBitmap24& bitmap, int /*frameNumber*/, int64_t pts) {
    if (Closed())
        return false;
    Synchronize([&] { Paint(bitmap, pts); });
    return !Closed();
}

void TPreviewer::Paint(const TBitmap24& bitmap, int64_t pts) {
    if (Closed())
        return;
    if (!Form) {
        TPreviewWindowFactory factory;
        {
            std::lock_guard<std::mutex> guard(FactoryLock);
            factory = Factory();
        }
        std::weak_ptr<std::atomic<bool>> closed = ClosedFlag;
        if (factory)
            Form = factory([closed] {
                if (auto flag = closed.lock())
                    flag->store(true);
            });
        if (!Form) {
            ClosedFlag->store(true);
            return;
        }
    }
    Form->ShowPicture(bitmap, PreviewCaption(pts));
}

void TPreviewer::CleanUp() {
    Form.reset();
}
