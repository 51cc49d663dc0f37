#include "platform/Sha1.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <bcrypt.h>

#include <limits>

namespace {
// The algorithm provider is opened once per process and shared: opening it is far more costly
// than a hash object, and CNG allows its use from any thread.
BCRYPT_ALG_HANDLE sha1Provider()
{
    static const BCRYPT_ALG_HANDLE provider = [] {
        BCRYPT_ALG_HANDLE handle = nullptr;
        if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&handle, BCRYPT_SHA1_ALGORITHM, nullptr,
                                                        BCRYPT_HASH_REUSABLE_FLAG)))
            handle = nullptr;
        return handle;
    }();
    return provider;
}

constexpr ULONG kDigestLength = 20;
} // namespace

struct Sha1Digest::Private
{
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool pending = false; // data added since the last result or reset
};

Sha1Digest::Sha1Digest() : d(new Private)
{
    if (const BCRYPT_ALG_HANDLE provider = sha1Provider()) {
        // A reusable hash object starts afresh after each BCryptFinishHash.
        if (!BCRYPT_SUCCESS(BCryptCreateHash(provider, &d->hash, nullptr, 0, nullptr, 0,
                                             BCRYPT_HASH_REUSABLE_FLAG)))
            d->hash = nullptr;
    }
}

Sha1Digest::~Sha1Digest()
{
    if (d->hash)
        BCryptDestroyHash(d->hash);
}

bool Sha1Digest::isValid() const
{
    return d->hash != nullptr;
}

void Sha1Digest::reset()
{
    // Pending data is thrown away by finishing into a scratch buffer.
    if (d->hash && d->pending) {
        UCHAR scratch[kDigestLength];
        BCryptFinishHash(d->hash, scratch, kDigestLength, 0);
    }
    d->pending = false;
}

void Sha1Digest::addData(const char *data, qint64 length)
{
    if (!d->hash)
        return;
    d->pending = true;
    // BCryptHashData takes at most 4 GiB - 1 per call.
    while (length > 0) {
        const ULONG part =
            static_cast<ULONG>(qMin<qint64>(length, std::numeric_limits<ULONG>::max()));
        BCryptHashData(d->hash, reinterpret_cast<PUCHAR>(const_cast<char *>(data)), part, 0);
        data += part;
        length -= part;
    }
}

QByteArray Sha1Digest::result()
{
    if (!d->hash)
        return QByteArray();
    QByteArray digest(static_cast<int>(kDigestLength), '\0');
    const bool ok = BCRYPT_SUCCESS(
        BCryptFinishHash(d->hash, reinterpret_cast<PUCHAR>(digest.data()), kDigestLength, 0));
    d->pending = false;
    return ok ? digest : QByteArray();
}

void Sha1Digest::prepare()
{
    sha1Provider();
}

void Sha1Digest::releaseThreadState() {}
