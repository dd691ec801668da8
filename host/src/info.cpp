// info.cpp: calculation, method and message requests, atoms, field information, package id and design record.
#include "moravel/text.h"
#include "requests.h"

namespace moravel::detail {

template <class U>
short onEvalCalcString(Impl& h, const Str255<U>* calcText, int ref) {
  std::u32string text = sentName(h, calcText).str();
  if (h.keepTexts) h.log.calcTexts.push_back(text);
  calc::Outcome o = calc::run(text, h);
  if (!o.ok) {
    h.unanswered(Unanswered::Kind::Calculation, text, o.error);
    return 0;
  }
  h.writeField(ref, h.handedOut(std::move(o.value)));
  return 1;
}

template <class U>
short onCallProcedure(Impl& h, const Str255<U>* nameStr, int ref) {
  std::u32string name = sentName(h, nameStr).str();
  if (h.keepTexts) h.log.procedureNames.push_back(name);
  h.runMethod(name, ref);
  return 0;
}

template <class U>
short onShowMessage(Impl& h, int /*type*/, int /*high*/, int /*large*/, int /*bell*/, const Str255<U>* text) {
  h.noteText(h.log.shownMessages, sentName(h, text));
  return 1;
}

// Atoms: store (3), look up (1) and remove (4) a value under a name.
template <class U>
short onExtensionInfo(Impl& h, ExtInfoRec<U>* rec) {
  if (!rec) {
    h.problem("ExtensionInfo without a record");
    return 0;
  }
  std::u32string name = sentName(h, &rec->name).str();
  short rc = 0;
  switch (rec->info_request) {
    case request::kAtomStore:
      if (!h.refuseStores) {
        h.atoms[name] = rec->params;
        rc = 1;
      }
      break;
    case request::kAtomLookup:
      if (auto it = h.atoms.find(name); it != h.atoms.end()) {
        rec->params = it->second;
        rc = 1;
      } else {
        rec->params = 0;
      }
      break;
    case request::kAtomRemove:
      rc = h.atoms.erase(name) ? 1 : 0;
      break;
    default:
      h.problem("ExtensionInfo: unknown request " + std::to_string(rec->info_request));
  }
  rec->returncode = rc;
  return rc;
}

template <class U>
short onGetFldInfo(Impl& h, ExtInfoRec<U>* rec) {
  if (!rec) {
    h.problem("GetFldInfo without a record");
    return 0;
  }
  std::optional<std::u32string> name = h.fieldName(rec->ref);
  if (name) putName(h, rec->name, *name);
  rec->returncode = name ? 1 : 0;
  return rec->returncode;
}

template <class U>
short onGetFldInfo2(Impl& h, FldInfoRec<U>* fi) {
  if (!fi) {
    h.problem("GetFldInfo2 without a record");
    return 1;
  }
  std::optional<std::u32string> name = h.fieldName(fi->ref);
  if (!name) return 1;
  putName(h, fi->name, *name);
  return 0;
}

template <class U>
short onGetPackageId(Impl& h, std::int32_t* out) {
  if (out) *out = h.frames.empty() ? 0 : h.frames.back().packageId;
  return 0;
}

template <class U>
short onGetDesignPtr(Impl& h, void** out) {
  if (out) *out = h.design.data();
  return 0;
}

MORAVEL_FOR_BOTH_WIDTHS(onEvalCalcString)
MORAVEL_FOR_BOTH_WIDTHS(onCallProcedure)
MORAVEL_FOR_BOTH_WIDTHS(onShowMessage)
MORAVEL_FOR_BOTH_WIDTHS(onExtensionInfo)
MORAVEL_FOR_BOTH_WIDTHS(onGetFldInfo)
MORAVEL_FOR_BOTH_WIDTHS(onGetFldInfo2)
MORAVEL_FOR_BOTH_WIDTHS(onGetPackageId)
MORAVEL_FOR_BOTH_WIDTHS(onGetDesignPtr)

}  // namespace moravel::detail
