#pragma once
#include <cstdint>
#include <cstdio>

#include "console/cmenu.h"

inline constexpr char directConnectionText[] = "[Direct Connection]";

// One configured HTTPS proxy.
class proxyInfo {
public:
    char* hostName = nullptr;
    int32_t port = 8080;
    char* userName = nullptr;
    char* password = nullptr;
    char* description = nullptr;

    proxyInfo() = default;
    ~proxyInfo();
    proxyInfo(const proxyInfo&) = delete;
    proxyInfo& operator=(const proxyInfo&) = delete;

    int init(char* address, char* end, const char* desc);
    int init(char* value, char* descBuf, int maxDesc);
    void setUserName(const char* text);
    void setPassword(const char* text);
    void cleanPassword();
    void save(FILE* f);
};

// The list menu of proxies, with the direct entry.
class proxyList : public consoleMenu {
public:
    proxyList();
    ~proxyList() override;
    using consoleMenu::init;
    int onKey(KEY_EVENT_RECORD& key) override;
    int onInsert() override;
    int onDelete() override;
    virtual int init(_win_st* win);
    virtual int parse(char* value);
    virtual int onEditItem();

    void save(FILE* f);
    // Display line of an entry ("%-35.40s - %.30s:%d").
    static void makeLine(char* out, const proxyInfo* p);
};
