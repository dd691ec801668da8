// expected_catalogue.h: the catalogue's texts as a Windows DLL must hold them, from string id 30708 on.
#pragma once

namespace moravel {

inline const char* const kExpectedCatalogue[] = {
    "Moravel.Version():30708006",
    "Moravel.GetTagList(taggedText,tagList,tagListColumn):30708005",
    // clang-format off
    "Moravel.DoSubstitutions(taggedText,expandedText [,utfType [,forceEval [,stripAllLinebreaks [,senseBrackets]]]]):30708002",
    // clang-format on
    "Moravel.MapKeywordsToFields(mappingList):30708004",
    "Moravel.SetFilesDirectory(dirPath):30708003",
    "Moravel.SetTags(openTag,closeTag):30708001",
    "*Moravel",
};

}  // namespace moravel
