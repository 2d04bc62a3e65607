// The package commands of vexal-pack: build, inspect and verify whole package files.
#pragma once

// vexal-pack build --out PKG [--version 1|2] [--name N] [--cache-name N] [--zlib | --lzma]
//   [--level N] [--block-a FILE] [--block-b FILE] MODULE...
int RunBuild(int argc, char** argv);
// vexal-pack inspect PKG: every header field; exit 1 when the loader would refuse the header.
int RunInspect(int argc, char** argv);
// vexal-pack verify PKG [DIR]: unpacks and checks every block; with DIR, what the loader would
// fetch into that folder.
int RunVerify(int argc, char** argv);

#define VEXAL_PACKAGE_COMMANDS                                                                                   \
    {"build",                                                                                                    \
     "--out PKG [--version 1|2] [--name N] [--cache-name N] [--zlib | --lzma] [--level N] [--block-a FILE] "     \
     "[--block-b FILE] MODULE...",                                                                               \
     "build a package; MODULE is FILE, FILE=NAME or @NAME (at most 8, the first the game module); "              \
     "--zlib, --lzma and --level apply to the modules after them",                                               \
     RunBuild},                                                                                                  \
        {"inspect", "PKG", "print the header; exit 1 when the loader would refuse it", RunInspect},              \
        {"verify", "PKG [DIR]", "unpack and check every block; with DIR, which files the loader would fetch",   \
         RunVerify},
