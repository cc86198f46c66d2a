#include "linuxdev/shared_device_file.h"

namespace linuxdev {

SharedDeviceFile::SharedDeviceFile(std::mutex &lock, SharedDevice &device, platform::Pipe pipe)
    : lock_(lock), device_(device), pipe_(pipe) {}

void SharedDeviceFile::startIo(const std::shared_ptr<platform::IoRequest> &request) {
    Completions done;
    {
        std::lock_guard<std::mutex> guard(lock_);
        DWORD error = refusal(request->kind());
        if (error != ERROR_SUCCESS) {
            done.add(request, error, 0);
        } else {
            start(request, done);
        }
    }
    done.run();
}

void SharedDeviceFile::cancel(platform::IoRequest &request) {
    Completions done;
    {
        std::lock_guard<std::mutex> guard(lock_);
        device_.cancel(request, done);
    }
    done.run();
}

DWORD SharedDeviceFile::refusal() const { return device_.isGone() ? ERROR_ACCESS_DENIED : ERROR_SUCCESS; }

DWORD SharedDeviceFile::refusal(platform::IoKind kind) const {
    DWORD error = refusal();
    return error != ERROR_SUCCESS ? error : platform::pipeRefusal(pipe_, kind);
}

bool SharedDeviceFile::beginClose(Completions &done) {
    if (closed_) return false;
    closed_ = true;
    device_.endRequestsOf(identity(), ERROR_OPERATION_ABORTED, done);
    return true;
}

}  // namespace linuxdev
