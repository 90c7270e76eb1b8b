// TSRemote.dll: the TeamSpeak 2 remote-control library, played. Every call
// answers from the session that ts2client.exe keeps in its block (see
// ts2_standin.h); without a running ts2client.exe every call answers
// TS2_NO_CLIENT. The session can make every call fail, hang inside the
// library, or return short or garbage records. Built 32-bit only, as the real
// library; with TSREMOTE_WITHOUT_SPEAKERS it lacks tsrGetSpeakers, as very
// old versions do.
#include <stdint.h>

#include "ts2_standin.h"

#define EXPORT extern "C" __declspec(dllexport)

enum {
    SERVER_RECORD = 482,
    USER_RECORD = 150,
    PLAYER_RECORD = 50,
    SHORT_RECORD = 40,
    GARBAGE_EXTRA = 1000, // counts claimed above the capacity
    HANG_POLL_MS = 20,
};

static uint32_t garbage_seed = 0x2545F491u;

// Random bytes without a zero, so no text in them is terminated.
static void fill_garbage(uint8_t *bytes, size_t size)
{
    for (size_t i = 0; i < size; i++) {
        garbage_seed = garbage_seed * 1103515245u + 12345u;
        bytes[i] = (uint8_t)(1 + (garbage_seed >> 16) % 255);
    }
}

static int client_gone(uint32_t pid)
{
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!process)
        return 1;
    int gone = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    CloseHandle(process);
    return gone;
}

// Attaches with the lock held, after waiting out a hang. 0 when there is no
// session; then *status is what the call answers.
static int begin_call(Ts2StandInAccess *a, int *status)
{
    *status = TS2_NO_CLIENT;
    if (!ts2_standin_attach(a))
        return 0;
    a->block->calls++;
    if (a->block->hang) {
        a->block->hanging++;
        const uint32_t pid = a->block->client_pid;
        do {
            ReleaseMutex(a->lock);
            Sleep(HANG_POLL_MS);
            DWORD got = WaitForSingleObject(a->lock, TS2_STANDIN_LOCK_MS);
            if (got != WAIT_OBJECT_0 && got != WAIT_ABANDONED) {
                ts2_standin_detach(a);
                return 0;
            }
        } while (a->block->hang && !client_gone(pid));
        a->block->hanging--;
    }
    if (a->block->fail_code) {
        *status = a->block->fail_code;
        ts2_standin_release(a);
        return 0;
    }
    *status = 0;
    return 1;
}

static int copy_record(void *record, size_t offset, size_t size)
{
    Ts2StandInAccess a;
    int status;
    if (!begin_call(&a, &status))
        return status;
    const uint8_t *source = (const uint8_t *)a.block + offset;
    if (offset == offsetof(Ts2StandInBlock, server) && !a.block->connected)
        status = -1;
    else if (a.block->records == TS2_RECORDS_GARBAGE)
        fill_garbage((uint8_t *)record, size);
    else
        memcpy(record, source, size);
    ts2_standin_release(&a);
    return status;
}

EXPORT int WINAPI tsrGetServerInfo(void *record)
{
    return copy_record(record, offsetof(Ts2StandInBlock, server), SERVER_RECORD);
}

EXPORT int WINAPI tsrGetUserInfo(void *record)
{
    return copy_record(record, offsetof(Ts2StandInBlock, user), USER_RECORD);
}

EXPORT int WINAPI tsrGetPlayers(void *records, int *count)
{
    Ts2StandInAccess a;
    int status;
    if (!begin_call(&a, &status))
        return status;
    const int capacity = *count > 0 ? *count : 0;
    const int n = a.block->player_count < capacity ? a.block->player_count : capacity;
    uint8_t *out = (uint8_t *)records;
    switch (a.block->records) {
    case TS2_RECORDS_SHORT:
        for (int i = 0; i < n; i++)
            memcpy(out + SHORT_RECORD * i, a.block->players[i], SHORT_RECORD);
        *count = n;
        break;
    case TS2_RECORDS_GARBAGE:
        fill_garbage(out, (size_t)capacity * PLAYER_RECORD);
        *count = capacity + GARBAGE_EXTRA;
        break;
    default:
        memcpy(out, a.block->players, (size_t)n * PLAYER_RECORD);
        *count = n;
    }
    ts2_standin_release(&a);
    return 0;
}

#ifndef TSREMOTE_WITHOUT_SPEAKERS
EXPORT int WINAPI tsrGetSpeakers(int *ids, int *count)
{
    Ts2StandInAccess a;
    int status;
    if (!begin_call(&a, &status))
        return status;
    const int capacity = *count > 0 ? *count : 0;
    if (a.block->records == TS2_RECORDS_GARBAGE) {
        fill_garbage((uint8_t *)ids, sizeof(int) * (size_t)capacity);
        *count = capacity + GARBAGE_EXTRA;
    } else {
        *count = a.block->speaker_count < capacity ? a.block->speaker_count : capacity;
        memcpy(ids, a.block->speakers, sizeof(int) * (size_t)*count);
    }
    ts2_standin_release(&a);
    return 0;
}
#endif

// The own player's flags, as the client applies them.
EXPORT int WINAPI tsrSetPlayerFlags(int flags)
{
    Ts2StandInAccess a;
    int status;
    if (!begin_call(&a, &status))
        return status;
    a.block->flag_requests++;
    a.block->last_flags = flags;
    ts2_standin_release(&a);
    return 0;
}

// The rest of the library, present for the loader; Pixwick never calls it.
#define PLAIN_CALL(name)                                                                                   \
    EXPORT int WINAPI name(void)                                                                          \
    {                                                                                                      \
        Ts2StandInAccess a;                                                                                \
        int status;                                                                                        \
        if (begin_call(&a, &status))                                                                       \
            ts2_standin_release(&a);                                                                       \
        return status;                                                                                     \
    }
PLAIN_CALL(tsrQuit)
PLAIN_CALL(tsrConnect)
PLAIN_CALL(tsrDisconnect)
PLAIN_CALL(tsrSendTextMessage)
PLAIN_CALL(tsrSendTextMessageToChannel)
PLAIN_CALL(tsrSwitchChannelID)
PLAIN_CALL(tsrSwitchChannelName)
PLAIN_CALL(tsrGetLastError)
PLAIN_CALL(tsrSetWantVoiceReason)
PLAIN_CALL(tsrSetVoice)
PLAIN_CALL(tsrSetOperator)
PLAIN_CALL(tsrKickPlayerFromServer)
PLAIN_CALL(tsrKickPlayerFromChannel)
PLAIN_CALL(tsrGetVersion)
PLAIN_CALL(tsrGetChannelInfoByID)
PLAIN_CALL(tsrGetChannelInfoByName)
PLAIN_CALL(tsrGetPlayerInfoByID)
PLAIN_CALL(tsrGetPlayerInfoByName)
PLAIN_CALL(tsrGetChannels)
