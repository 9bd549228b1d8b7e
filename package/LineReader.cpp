#include "package/PackageReading.h"

namespace packagereading {

bool LineReader::refill()
{
    if (ended_ || failed_) return false;
    uint32_t got = 0;
    if (!sys().readFile(file_, buffer_, sizeof buffer_, got)) {
        failed_ = true;
        return false;
    }
    if (got == 0) {
        ended_ = true;
        return false;
    }
    filled_ = got;
    position_ = 0;
    return true;
}

LineReader::Status LineReader::next(std::string& line)
{
    line.clear();
    bool any = false;
    for (;;) {
        if (position_ == filled_ && !refill()) break;
        any = true;
        const char* start = buffer_ + position_;
        const uint32_t left = filled_ - position_;
        uint32_t length = 0;
        while (length < left && start[length] != '\n')
            ++length;
        line.append(start, length);
        position_ += length;
        if (position_ < filled_) {
            ++position_; // the LF
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return Status::Line;
        }
    }
    if (failed_) return Status::Failed;
    return any ? Status::Line : Status::End;
}

} // namespace packagereading
