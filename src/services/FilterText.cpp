#include "services/FilterText.h"

#include "resources/Texts.h"

std::string BuildFilterText(const CFlashAMFObject* filterList)
{
    if (!filterList || filterList->getType() != kAmfAssociativeArray)
        return std::string(texts::kAllFilesName) + '\0' + texts::kAllFilesPattern + '\0' + '\0';
    const auto* list = static_cast<const CFlashAMFAssociativeArray*>(filterList);
    std::string text;
    for (int i = 0; i < list->count(); i += 2) {
        const CFlashAMFObject* description = list->findMemberByIndex(i);
        const CFlashAMFObject* pattern = list->findMemberByIndex(i + 1);
        if (!description || !pattern || description->getType() != kAmfString || pattern->getType() != kAmfString)
            continue;
        const std::string pair = description->toString() + '\0' + pattern->toString() + '\0';
        if (text.size() + pair.size() + 1 > kFilterTextSize)
            break;
        text += pair;
    }
    return text + '\0';
}
