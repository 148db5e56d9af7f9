#pragma once
// The addresses two groups share and those only one of them holds, for removing the contacts a
// group has in common with another.
#include "model/cvSetup.h"

struct TcvGroupComparison {
    // Each sorted ignoring letter case; an address is held once, in the spelling met first.
    TStringList Unique1, Unique2;
    // The addresses both groups hold, spelled as in the first group.
    TStringList Common;
};

TcvGroupComparison CompareGroupEmails(const TcvGroup& group1, const TcvGroup& group2);

// Deletes from the group every contact holding one of the addresses (ignoring letter case), each
// with its log line; the number of contacts deleted.
int DeleteContactsWithEmails(TcvGroup& group, const TStringList& emails);
