// The drive texts that WMI reports, whatever they hold: the normalised model, the supported-model
// match and the revision taken from a Plug and Play identifier.
#include "Fuzz.h"
#include "core/DriveText.h"

namespace {
void CheckNormalisation(const Text& model) {
    const Text normalized = NormalizeModelNumber(model);
    Text expected = model.compare(0, 4, UTF16("ATA ")) == 0 ? model.substr(4) : model;
    Text withoutSpaces;
    for (TextChar c : expected)
        if (c != ' ')
            withoutSpaces += c;
    REQUIRE(normalized == withoutSpaces);
    REQUIRE(NormalizeModelNumber(normalized) == normalized); // nothing left to normalise

    const int match = FindSupportedModel(normalized);
    REQUIRE(match >= -1 && match < SupportedModelCount);
    for (int i = 0; i < SupportedModelCount; ++i) {
        const bool contains = normalized.find(SupportedModels[i]) != Text::npos;
        if (i < match || match == -1)
            REQUIRE(!contains); // the first entry that matches is the one reported
        if (i == match)
            REQUIRE(contains);
    }
}

void CheckRevision(const Text& id) {
    const Text revision = ExtractRevisionFromPNPDeviceID(id);
    REQUIRE(revision.find(TextChar('_')) == Text::npos);
    if (revision.empty())
        return;
    const size_t doubleUnderscore = id.find(UTF16("__"));
    REQUIRE(doubleUnderscore != Text::npos);
    // The revision stands in the identifier right after an underscore, past the first double one.
    bool found = false;
    for (size_t at = id.find(revision, doubleUnderscore + 2); at != Text::npos && !found;
         at = id.find(revision, at + 1))
        found = id[at - 1] == '_';
    REQUIRE(found);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Text text = InputText(data, size);
    CheckNormalisation(text);
    CheckRevision(text);
    return 0;
}
