// Feeds arbitrary bytes to the reader of the "diameter" and "appearance" columns. Besides
// memory errors it checks that the simdjson path and the QJsonDocument reference agree on
// every input.
#include "RecordJson.h"

#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void mismatch(const char *what, int index)
{
    std::fprintf(stderr, "fast and reference reader disagree on %s at item %d\n", what, index);
    std::abort();
}

void compare(const RecordJson::HoleList &a, const RecordJson::HoleList &b, const char *what)
{
    if (a.size() != b.size())
        mismatch(what, -1);
    for (int i = 0; i < a.size(); ++i) {
        const tlv::HoleInfo &x = *a.at(i);
        const tlv::HoleInfo &y = *b.at(i);
        if (x.idx != y.idx || x.status != y.status || x.position != y.position || x.value != y.value)
            mismatch(what, i);
    }
}

void compare(const RecordJson::ApeList &a, const RecordJson::ApeList &b, const char *what)
{
    if (a.size() != b.size())
        mismatch(what, -1);
    for (int i = 0; i < a.size(); ++i) {
        const tlv::ApeInfo &x = *a.at(i);
        const tlv::ApeInfo &y = *b.at(i);
        if (x.idx != y.idx || x.status != y.status || x.position != y.position || x.ngtypes != y.ngtypes)
            mismatch(what, i);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    compare(RecordJson::readHoles(bytes), RecordJson::readHolesWithQt(bytes), "holes");
    compare(RecordJson::readApes(bytes), RecordJson::readApesWithQt(bytes), "findings");
    return 0;
}
