// The package commands of vexal-pack: build, inspect and verify whole package files.
#pragma once

// vexal-pack build --out PKG [--version N] [--name N] [--cache-name N] [--zlib | --lzma]
//   [--level N] [--block-a FILE] [--block-b FILE] MODULE...
int RunBuild(int argc, char** argv);
// vexal-pack inspect PKG: every header field; exit 1 when the loader would refuse the header.
int RunInspect(int argc, char** argv);
// vexal-pack verify PKG [DIR]: unpacks and checks every block; with DIR, what the loader would
// fetch into that folder.
int RunVerify(int argc, char** argv);
