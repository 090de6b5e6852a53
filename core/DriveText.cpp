#include "core/DriveText.h"

#include <algorithm>

Text NormalizeModelNumber(Text model) {
    if (model.compare(0, 4, UTF16("ATA ")) == 0)
        model.erase(0, 4);
    model.erase(std::remove(model.begin(), model.end(), TextChar(' ')), model.end());
    return model;
}

int FindSupportedModel(const Text& normalizedModel) {
    for (int i = 0; i < SupportedModelCount; ++i)
        if (normalizedModel.find(SupportedModels[i]) != Text::npos)
            return i;
    return -1;
}

Text ExtractRevisionFromPNPDeviceID(const Text& pnpDeviceId) {
    bool oneUnderscore = false, insideRevision = false, revisionStarted = false;
    Text revision;
    for (TextChar c : pnpDeviceId) {
        if (c == TextChar('_')) {
            if (!insideRevision) {
                if (oneUnderscore)
                    insideRevision = true;
                else
                    oneUnderscore = true;
            } else if (revisionStarted) {
                break;
            }
        } else if (!insideRevision) {
            oneUnderscore = false;
        } else {
            revisionStarted = true;
            revision += c;
        }
    }
    return revision;
}
