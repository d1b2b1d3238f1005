#include "net/linesplit.h"

void lineSplitter::feed(const char* data, size_t n, const lineFn& onLine) {
    partial_.append(data, n);
    size_t at = 0, nl;
    while ((nl = partial_.find('\n', at)) != std::string::npos) {
        const size_t end = nl > at && partial_[nl - 1] == '\r' ? nl - 1 : nl;
        onLine(partial_.substr(at, end - at));
        at = nl + 1;
    }
    partial_.erase(0, at);
    while (partial_.size() >= max_) {
        onLine(partial_.substr(0, max_));
        partial_.erase(0, max_);
    }
}

void lineSplitter::finish(const lineFn& onLine) {
    if (!partial_.empty()) onLine(partial_);
    partial_.clear();
}
