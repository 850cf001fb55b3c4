#pragma once

#include <QByteArray>
#include <QByteArrayView>

typedef struct evp_md_ctx_st EVP_MD_CTX;

// SHA-256 of a stream, computed as its pieces arrive (libcrypto: it uses
// the processor's SHA instructions, several times faster than Qt's own).
class Sha256
{
public:
    Sha256();
    Sha256(const Sha256 &) = delete;
    Sha256 &operator=(const Sha256 &) = delete;
    ~Sha256();

    void add(QByteArrayView bytes);
    // The digest as 64 lower-case hex digits; the hash starts anew.
    QByteArray hexResult();

private:
    EVP_MD_CTX *m_context;
};
