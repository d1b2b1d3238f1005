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
    // Set for a tunnel entry: the command whose standard input and output
    // carry the connection (hostName stays null).
    char* command = nullptr;

    proxyInfo() = default;
    ~proxyInfo();
    proxyInfo(const proxyInfo&) = delete;
    proxyInfo& operator=(const proxyInfo&) = delete;

    int init(char* address, char* end, const char* desc);
    int init(char* value, char* descBuf, int maxDesc);
    // From a tunnel line value "command,description": 0, -1 (null), -2 (no
    // memory) or -4 (empty command or description).
    int initTunnel(char* value, char* descBuf, int maxDesc);
    // Makes this a tunnel entry with copies of both texts: 0, or -2.
    int setTunnel(const char* newCommand, const char* desc);
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
    // One tunnel entry from a configuration line value, as parse does.
    int parseTunnel(char* value);

    void save(FILE* f);
    // Display line of an entry ("%-35.40s - %.30s:%d"; "%-35.40s - | %s" for
    // a tunnel).
    static void makeLine(char* out, const proxyInfo* p);
    // The server list's border title under this entry.
    static void makeTitle(char* out, int size, const proxyInfo* p);

private:
    int insertTunnel();
    int editTunnel(menuItem* item, proxyInfo* entry);
};
