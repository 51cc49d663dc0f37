#include "platform/Sha1.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

struct Sha1Digest::Private
{
    EVP_MD_CTX *context = nullptr;
};

Sha1Digest::Sha1Digest() : d(new Private)
{
    prepare();
    d->context = EVP_MD_CTX_new();
    reset();
}

Sha1Digest::~Sha1Digest()
{
    EVP_MD_CTX_free(d->context);
}

bool Sha1Digest::isValid() const
{
    return d->context != nullptr;
}

void Sha1Digest::reset()
{
    if (d->context)
        EVP_DigestInit_ex(d->context, EVP_sha1(), nullptr);
}

void Sha1Digest::addData(const char *data, qint64 length)
{
    if (d->context && length > 0)
        EVP_DigestUpdate(d->context, data, static_cast<size_t>(length));
}

QByteArray Sha1Digest::result()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!d->context || EVP_DigestFinal_ex(d->context, digest, &length) != 1)
        return QByteArray();
    return QByteArray(reinterpret_cast<const char *>(digest), static_cast<int>(length));
}

void Sha1Digest::prepare()
{
    OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CONFIG, nullptr);
}

void Sha1Digest::releaseThreadState()
{
    OPENSSL_thread_stop();
}
