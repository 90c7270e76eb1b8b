// What the TeamSpeak 2 stand-in's two halves share: ts2client.exe (the
// "TeamSpeak 2" window and the scripted session) writes the session into one
// named block; TSRemote.dll, loaded into Pixwick, answers the library calls
// from it and records the calls that change something. Every field has a
// fixed width: a 32-bit library reads what a 64-bit client wrote.
//
//   Local\PixwickTs2StandIn        the block (Ts2StandInBlock)
//   Local\PixwickTs2StandIn.Lock   mutex guarding it
#pragma once
#include <windows.h>
#include <stddef.h>
#include <stdint.h>

#define TS2_STANDIN_BLOCK "Local\\PixwickTs2StandIn"
#define TS2_STANDIN_LOCK "Local\\PixwickTs2StandIn.Lock"
#define TS2_STANDIN_MAGIC 0x32535450u // "PTS2"
#define TS2_STANDIN_LOCK_MS 2000
#define TS2_NO_CLIENT 1 // what every call answers while ts2client.exe is not running

enum Ts2StandInRecords {
    TS2_RECORDS_NORMAL = 0,
    TS2_RECORDS_SHORT = 1,   // 40-byte records, as an SDK with a shorter layout would pack them
    TS2_RECORDS_GARBAGE = 2, // random bytes, unterminated names and counts above the capacity
};

struct Ts2StandInBlock {
    uint32_t magic;
    uint32_t client_pid;     // a hanging call gives up when this process has ended
    uint32_t connected;      // 0: tsrGetServerInfo answers -1
    int32_t fail_code;       // nonzero: every call answers it
    uint32_t hang;           // 1: every call waits inside the library until cleared
    uint32_t records;        // Ts2StandInRecords
    uint32_t calls;          // library calls so far
    uint32_t hanging;        // calls waiting inside now
    uint32_t flag_requests;  // tsrSetPlayerFlags calls so far
    int32_t last_flags;      // what the last one asked for
    uint8_t server[484];     // server record (482 bytes used)
    uint8_t user[152];       // user record (150 bytes used)
    int32_t player_count;
    uint8_t players[128][50];
    int32_t speaker_count;
    int32_t speakers[8];
};
static_assert(offsetof(Ts2StandInBlock, server) == 40, "fixed layout");
static_assert(offsetof(Ts2StandInBlock, player_count) == 676, "fixed layout");
static_assert(sizeof(Ts2StandInBlock) == 7116, "fixed layout");

struct Ts2StandInAccess {
    HANDLE mapping;
    HANDLE lock;
    Ts2StandInBlock *block;
};

static inline void ts2_standin_detach(Ts2StandInAccess *a)
{
    if (a->block)
        UnmapViewOfFile(a->block);
    if (a->mapping)
        CloseHandle(a->mapping);
    if (a->lock)
        CloseHandle(a->lock);
    memset(a, 0, sizeof *a);
}

// Opens the block of a running ts2client.exe and takes its lock; 1 on success.
static inline int ts2_standin_attach(Ts2StandInAccess *a)
{
    memset(a, 0, sizeof *a);
    a->mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, TS2_STANDIN_BLOCK);
    a->lock = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, TS2_STANDIN_LOCK);
    if (a->mapping)
        a->block = (Ts2StandInBlock *)MapViewOfFile(a->mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(Ts2StandInBlock));
    DWORD got = a->lock ? WaitForSingleObject(a->lock, TS2_STANDIN_LOCK_MS) : WAIT_FAILED;
    if (got != WAIT_OBJECT_0 && got != WAIT_ABANDONED) {
        ts2_standin_detach(a);
        return 0;
    }
    if (!a->block || a->block->magic != TS2_STANDIN_MAGIC) {
        ReleaseMutex(a->lock);
        ts2_standin_detach(a);
        return 0;
    }
    return 1;
}

static inline void ts2_standin_release(Ts2StandInAccess *a)
{
    ReleaseMutex(a->lock);
    ts2_standin_detach(a);
}
