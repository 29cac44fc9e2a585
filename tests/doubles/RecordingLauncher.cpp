#include "RecordingLauncher.h"

namespace vts {

std::shared_ptr<ProcessHandle> RecordingLauncher::start(const Request& r, QString* error) {
    requests.push_back(r);
    if (onStart) {
        auto h = onStart(r);
        if (!h && error) *error = QStringLiteral("start refused by test");
        return h;
    }
    auto h = std::make_shared<Handle>();
    handles.push_back(h);
    return h;
}

}  // namespace vts
