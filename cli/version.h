// What `quorvel --version` prints: the version, and the git revision the
// program was built from ("unknown" outside a git checkout; "-modified"
// when files differed from it).
#pragma once

const char* buildRevision();
