#pragma once
#include <cstdint>

// A small intrusive doubly linked list; T begins with `next` and `previous`.
// Flags bit 0 set: the list does not own its elements.
template <class T>
class llistN {
public:
    T* first = nullptr;
    T* last = nullptr;
    int32_t count = 0;
    uint32_t flags = 0;

    explicit llistN(uint32_t f = 0) : flags(f) {}
    llistN(const llistN&) = delete;
    llistN& operator=(const llistN&) = delete;
    virtual ~llistN() { free(); }

    virtual void free() {
        if (flags & 1) return;
        while (first) release(first);
    }
    virtual T* getNext(T* element) { return element ? element->next : first; }
    virtual void add(T* element) {
        if (!element) return;
        element->next = nullptr;
        element->previous = last;
        if (last) last->next = element; else first = element;
        last = element;
        ++count;
    }
    virtual void add(T* element, T* before) {
        if (!element) return;
        if (!before) { add(element); return; }
        element->next = before;
        element->previous = before->previous;
        if (before->previous) before->previous->next = element; else first = element;
        before->previous = element;
        ++count;
    }
    virtual void release(T* element) {
        if (!element) return;
        if (element->previous) element->previous->next = element->next; else first = element->next;
        if (element->next) element->next->previous = element->previous; else last = element->previous;
        element->next = element->previous = nullptr;
        --count;
        if (!(flags & 1)) delete element;
    }
};
