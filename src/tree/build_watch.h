// build_watch.h - what a build of a tree reports besides the tree, and what can stop it: shared by both grammars.
#ifndef LIB_PARSE_BUILD_WATCH_H
#define LIB_PARSE_BUILD_WATCH_H

namespace lp {

class CheckPoint;
class NameList;
class NoteList;
struct NodeOrder;

struct BuildWatch {
    NoteList *notes = nullptr;       // the traps of the language met on the way
    NameList *names = nullptr;       // each name a leaf reads and each call, in text order
    CheckPoint *check = nullptr; // counts the build's work; null: a build nothing stops
    NodeOrder *order = nullptr;  // where a builder that makes nodes in post-order lists them
};

} // namespace lp

#endif // LIB_PARSE_BUILD_WATCH_H
