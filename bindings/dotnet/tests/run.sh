#!/bin/sh
# The .NET steps of the test command, one per CTest entry.
# Usage: run.sh build|xunit|package|powershell
# The environment names the build folder (QhDotnetBuild), the libraries
# (QhLinuxLibrary, QhWindowsLibrary) and the source tree (QH_SOURCE_DIR).
set -eu
step=$1
here=$(cd "$(dirname "$0")" && pwd)
dotnet_dir=$(dirname "$here")
build=$QhDotnetBuild
export DOTNET_CLI_TELEMETRY_OPTOUT=1 DOTNET_NOLOGO=1 DOTNET_SKIP_FIRST_TIME_EXPERIENCE=1
export DOTNET_CLI_WORKLOAD_UPDATE_NOTIFY_DISABLE=1 MSBUILDDISABLENODEREUSE=1 DOTNET_CLI_USE_MSBUILD_SERVER=0

# The binding, its tests and the module, built once (one restore) in Release.
build() {
    dotnet build "$dotnet_dir/Quendral.Hosts.slnx" -c Release -nologo -v:q --disable-build-servers
    module=$build/module/QuendralHosts
    rm -rf "$module"
    mkdir -p "$module"
    # The netstandard2.0 build, with what it needs on .NET Framework (Windows
    # PowerShell 5.1); PowerShell 7 takes those from its own runtime.
    cp "$dotnet_dir/QuendralHosts/QuendralHosts.psd1" "$dotnet_dir/QuendralHosts/QuendralHosts.psm1" \
       "$dotnet_dir/QuendralHosts/QuendralHosts.format.ps1xml" \
       "$build/bin/Quendral.Hosts/Release/netstandard2.0/"*.dll "$module/"
    cp "$QhLinuxLibrary" "$module/libquendral-hosts.so"
    if [ -f "$QhWindowsLibrary" ]; then
        cp "$QhWindowsLibrary" "$module/quendral-hosts.dll"
    fi
}

xunit() {
    dotnet test "$dotnet_dir/Quendral.Hosts.Tests/Quendral.Hosts.Tests.csproj" -c Release --no-build -nologo
}

# Packs, checks the package's files and its Windows DLL, then builds and runs a
# program that restores the package from a folder feed with a package cache of
# its own, so that nothing but the package can serve it.
package() {
    if [ ! -f "$QhWindowsLibrary" ]; then
        echo "no Windows DLL at $QhWindowsLibrary: build build-win first (scripts/test-all.sh does)"
        exit 1
    fi
    feed=$build/feed
    rm -rf "$feed" "$build/consumer"
    mkdir -p "$feed"
    dotnet pack "$dotnet_dir/Quendral.Hosts/Quendral.Hosts.csproj" -c Release --no-build -nologo -v:q -o "$feed"
    nupkg=$feed/Quendral.Hosts.1.0.0.nupkg

    listing=$build/package-files.txt
    python3 -c 'import sys, zipfile; print("\n".join(sorted(zipfile.ZipFile(sys.argv[1]).namelist())))' "$nupkg" > "$listing"
    echo "== files in $(basename "$nupkg")"
    cat "$listing"
    cat > "$build/package-expected.txt" <<LIST
Quendral.Hosts.nuspec
README.md
[Content_Types].xml
_rels/.rels
lib/net10.0/Quendral.Hosts.dll
lib/net10.0/Quendral.Hosts.xml
lib/netstandard2.0/Quendral.Hosts.dll
lib/netstandard2.0/Quendral.Hosts.xml
runtimes/linux-x64/native/libquendral-hosts.so
runtimes/win-x64/native/quendral-hosts.dll
LIST
    grep -v '^package/services/metadata/core-properties/.*\.psmdcp$' "$listing" | diff -u "$build/package-expected.txt" -
    unzip_to=$build/package-content
    rm -rf "$unzip_to"
    python3 -m zipfile -e "$nupkg" "$unzip_to"
    grep -q '<license type="expression">MIT</license>' "$unzip_to/Quendral.Hosts.nuspec"
    echo "== the Windows DLL in the package"
    sh "$QH_SOURCE_DIR/tests/check_binary.sh" pe "$unzip_to/runtimes/win-x64/native/quendral-hosts.dll" \
        "$QH_SOURCE_DIR/src/win/quendral-hosts.def"
    echo "== the Linux library in the package"
    sh "$QH_SOURCE_DIR/tests/check_binary.sh" elf "$unzip_to/runtimes/linux-x64/native/libquendral-hosts.so" \
        "$QH_SOURCE_DIR/src/win/quendral-hosts.def"

    sources="--source $feed"
    if [ -d /opt/nuget/packages ]; then
        sources="$sources --source /opt/nuget/packages"
    fi
    consumer=$build/consumer
    # shellcheck disable=SC2086 # the sources are meant to split into words
    NUGET_PACKAGES=$consumer/packages QhDotnetBuild=$consumer \
        dotnet build "$here/consumer/Consumer.csproj" -c Release -nologo -v:q --disable-build-servers $sources
    hosts=$consumer/hosts
    printf '127.0.0.1 localhost\n' > "$hosts"
    env -u LD_LIBRARY_PATH dotnet "$consumer/bin/Consumer/Release/net10.0/Consumer.dll" "$hosts" > "$consumer/output.txt"
    echo "== the consumer's output"
    cat "$consumer/output.txt"
    printf '%s\n' "quendral-hosts 1.0.0" "0 disabled 127.0.0.1 localhost" "1 enabled 10.0.0.5 build.lan CI runner" \
        "native library: runtimes/linux-x64/native/libquendral-hosts.so" | diff -u - "$consumer/output.txt"
    printf '# 127.0.0.1 localhost\n10.0.0.5 build.lan # CI runner\n' | diff -u - "$hosts"
}

# Real PowerShell, installed as a .NET tool into the build folder.
powershell() {
    tools=$build/tools
    if [ ! -x "$tools/pwsh" ]; then
        # Without a version the tool resolves to a release that fails to install.
        dotnet tool install PowerShell --version 7.6.10 --tool-path "$tools"
    fi
    NO_COLOR=1 "$tools/pwsh" -NoProfile -NonInteractive -File "$here/QuendralHosts.Tests.ps1" \
        "$build/module/QuendralHosts/QuendralHosts.psd1" "$QH_SOURCE_DIR/tests/editing_cases/cases.json"
}

"$step"
