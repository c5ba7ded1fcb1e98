#pragma once
#include <cstdio>
#include <string>

// A one-line bar on stderr, redrawn only when what it shows changes. Not thread-safe: the
// batch serialises its calls.
class ProgressBar {
public:
    explicit ProgressBar(bool enabled) : enabled_(enabled) {}
    ~ProgressBar() { Finish(); }
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void Show(int percent, const std::string& note = {})
    {
        if (!enabled_ || (percent == last_ && note == note_)) {
            return;
        }
        last_ = percent;
        note_ = note;
        Draw();
    }
    // Takes the bar off the line so that a message can be printed; the next Show or Redraw
    // puts it back.
    void Clear()
    {
        if (enabled_ && last_ >= 0) {
            std::fprintf(stderr, "\r%*s\r", width_ + 8 + static_cast<int>(note_.size()), "");
        }
    }
    void Redraw()
    {
        if (enabled_ && last_ >= 0) {
            Draw();
        }
    }
    void Finish()
    {
        if (enabled_ && last_ >= 0) {
            std::fputc('\n', stderr);
            last_ = -1;
        }
    }

private:
    void Draw()
    {
        const int filled = last_ * width_ / 100;
        std::fprintf(stderr, "\r[%s%s] %3d%%%s", std::string(filled, '#').c_str(),
                     std::string(width_ - filled, ' ').c_str(), last_, note_.c_str());
        std::fflush(stderr);
    }

    static constexpr int width_ = 40;
    bool enabled_;
    int last_ = -1;
    std::string note_;
};
