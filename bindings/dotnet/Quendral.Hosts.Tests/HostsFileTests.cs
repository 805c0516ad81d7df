using System;
using System.Diagnostics;
using System.IO;
using System.Linq;
using System.Reflection;
using System.Runtime.InteropServices;
using System.Runtime.Loader;
using System.Runtime.Versioning;
using System.Threading.Tasks;
using Quendral.Hosts;
using Xunit;

// The library holds one hosts file per process: the tests take turns.
[assembly: CollectionBehavior(DisableTestParallelization = true)]

namespace Quendral.Hosts.Tests;

public sealed class HostsFileTests : IDisposable
{
    private const string TwoEntries = "127.0.0.1 localhost\n# 10.0.0.2 old.lan # retired\n";

    private readonly string folder = Directory.CreateTempSubdirectory("qh-dotnet-").FullName;

    public void Dispose() => Directory.Delete(folder, recursive: true);

    private string HostsPath(string content)
    {
        var path = Path.Combine(folder, "hosts");
        File.WriteAllText(path, content);
        return path;
    }

    private HostsFile Loaded(string content = TwoEntries)
    {
        var hosts = new HostsFile(HostsPath(content));
        hosts.Load();
        return hosts;
    }

    // The library's own view, asked directly, to compare with what the binding reports.
    [DllImport("quendral-hosts")]
    private static extern IntPtr hosts_last_error();

    private static string LibraryError() => Marshal.PtrToStringUTF8(hosts_last_error()) ?? "";

    [Fact]
    public void LoadsEditsSavesAndReadsBack()
    {
        Assert.Equal("1.0.0", HostsFile.Version);
        var hosts = Loaded();
        Assert.Equal(
            new[] { new HostRecord(0, "127.0.0.1", "localhost", true, ""), new HostRecord(1, "10.0.0.2", "old.lan", false, "retired") },
            hosts.GetRecords());

        Assert.Equal(new HostRecord(2, "10.0.0.5", "build.lan", true, "CI runner"), hosts.Add("10.0.0.5", "build.lan", "CI runner"));
        hosts.Enable(1);
        hosts.Disable(hosts.GetRecords()[0]);
        hosts.Remove(hosts.Add("::1", "ip6.lan"));
        hosts.Save();

        Assert.Equal("# 127.0.0.1 localhost\n10.0.0.2 old.lan # retired\n10.0.0.5 build.lan # CI runner\n",
            File.ReadAllText(hosts.Path!));
        var again = new HostsFile(hosts.Path);
        again.Load();
        Assert.Equal(3, again.Count);
        Assert.Equal(new HostRecord(2, "10.0.0.5", "build.lan", true, "CI runner"), again.GetRecords()[2]);
    }

    public static TheoryData<string, Action<HostsFile>, string, Type> LibraryRefusals => new()
    {
        { "bad address", hosts => hosts.Add("999.1.1.1", "a.lan"), "invalid ip: '999.1.1.1'", typeof(ArgumentException) },
        { "empty address", hosts => hosts.Add("", "a.lan"), "ip is NULL or empty", typeof(ArgumentException) },
        { "bad name", hosts => hosts.Add("10.0.0.1", "bad name!"), "invalid name: 'bad name!'", typeof(ArgumentException) },
        { "empty name", hosts => hosts.Add("10.0.0.1", ""), "name is NULL or empty", typeof(ArgumentException) },
        { "line break", hosts => hosts.Add("10.0.0.1", "a.lan", "one\ntwo"), "comment contains a line break", typeof(ArgumentException) },
        { "long comment", hosts => hosts.Add("10.0.0.1", "a.lan", new string('c', 1024)), "comment too long", typeof(ArgumentException) },
        { "set, bad address", hosts => hosts.Set("10.0.0.256", "localhost"), "invalid ip: '10.0.0.256'", typeof(ArgumentException) },
        { "enable", hosts => hosts.Enable(2), "index 2 out of range (count 2)", typeof(ArgumentOutOfRangeException) },
        { "disable", hosts => hosts.Disable(-1), "index -1 out of range (count 2)", typeof(ArgumentOutOfRangeException) },
        { "remove", hosts => hosts.Remove(int.MaxValue), $"index {int.MaxValue} out of range (count 2)", typeof(ArgumentOutOfRangeException) },
    };

    [Theory]
    [MemberData(nameof(LibraryRefusals))]
    public void LibraryRefusalIsABuiltInExceptionAndChangesNothing(string what, Action<HostsFile> call, string message, Type type)
    {
        var hosts = Loaded();
        var before = hosts.GetRecords();

        var error = Assert.ThrowsAny<Exception>(() => call(hosts));

        Assert.Equal(type, error.GetType());
        Assert.False(hosts.IsModified);

        Assert.Equal(message, error.Message);
        Assert.Equal(message, LibraryError());
        Assert.Equal(before, hosts.GetRecords());
        hosts.Save();
        Assert.True(TwoEntries == File.ReadAllText(hosts.Path!), what);
    }

    // Runs a program of the system and waits for it; its exit code.
    private static int Run(string program, params string[] arguments)
    {
        var start = new ProcessStartInfo(program) { UseShellExecute = false };
        foreach (var argument in arguments)
            start.ArgumentList.Add(argument);
        using var process = Process.Start(start)!;
        process.WaitForExit();
        return process.ExitCode;
    }

    // A folder in which no file can be made: its write bit off, or, for root, whom
    // permission bits do not stop, immutable.
    [UnsupportedOSPlatform("windows")]
    private static bool LockFolder(string path)
    {
        if (Environment.UserName != "root")
        {
            File.SetUnixFileMode(path, UnixFileMode.UserRead | UnixFileMode.UserExecute);
            return true;
        }
        return Run("chattr", "+i", path) == 0;
    }

    [UnsupportedOSPlatform("windows")]
    private static void UnlockFolder(string path)
    {
        if (Environment.UserName == "root")
            Run("chattr", "-i", path);
        else
            File.SetUnixFileMode(path, UnixFileMode.UserRead | UnixFileMode.UserWrite | UnixFileMode.UserExecute);
    }

    [Fact]
    [UnsupportedOSPlatform("windows")]
    public void SaveRefusedForAccessSaysToRunElevated()
    {
        var locked = Directory.CreateDirectory(Path.Combine(folder, "locked")).FullName;
        var path = Path.Combine(locked, "hosts");
        File.WriteAllText(path, TwoEntries);
        var hosts = new HostsFile(path);
        hosts.Load();
        hosts.Add("10.0.0.1", "a.lan");
        Assert.True(LockFolder(locked), "chattr could not make the folder immutable");
        UnauthorizedAccessException refusal;
        try
        {
            refusal = Assert.Throws<UnauthorizedAccessException>(hosts.Save);
        }
        finally
        {
            UnlockFolder(locked);
        }
        Assert.Equal(LibraryError() + "; the system refused access: run the program as root (for example with sudo)", refusal.Message);
        Assert.StartsWith($"cannot open {path}.tmp for writing: ", refusal.Message);
        Assert.StartsWith(LibraryError() + "; ", refusal.Message);
        Assert.Contains(path, refusal.Message);
        Assert.Equal(TwoEntries, File.ReadAllText(path));

        // Another failure of a save carries no hint.
        File.WriteAllText(path, "10.9.9.9 changed.lan\n");
        var error = Assert.Throws<HostsException>(hosts.Save);
        Assert.Equal(LibraryError(), error.Message);
        Assert.Equal(path, error.Path);
        Assert.Null(error.InnerException);
    }

    // The binding finds its library beside itself or in System32 only. That this
    // still finds the package's own copy is shown by the package's consumer
    // program (tests/run.sh package), which names the library it loaded.
    [Fact]
    public void NativeLibraryIsLookedForBesideTheAssemblyAndInSystem32()
    {
        var paths = typeof(HostsFile).Assembly.GetCustomAttribute<DefaultDllImportSearchPathsAttribute>();
        Assert.NotNull(paths);
        Assert.Equal(DllImportSearchPath.AssemblyDirectory | DllImportSearchPath.System32, paths.Paths);
    }

    [Fact]
    public void LibraryOfAnotherArchitectureSaysWhichOneTheProcessIs()
    {
        var wrong = new BadImageFormatException("An attempt was made to load a program with an incorrect format.");
        var error = HostsFile.NotUsable(wrong);
        var architecture = RuntimeInformation.ProcessArchitecture.ToString().ToLowerInvariant();
        Assert.Equal($"quendral-hosts library not usable: this package carries the x64 library; this process is {architecture}", error.Message);
        Assert.Same(wrong, error.InnerException);
        var missing = new DllNotFoundException("no such library");
        Assert.Equal("quendral-hosts library not usable: no such library", HostsFile.NotUsable(missing).Message);
    }

    [Fact]
    public void FileErrorsCarryTheLibraryTextAndThePath()
    {
        var tooLong = new HostsFile(new string('a', 9000));
        Assert.Equal("path too long", Assert.Throws<ArgumentException>(tooLong.Load).Message);

        // A folder is no hosts file.
        var error = Assert.Throws<HostsException>(new HostsFile(folder).Load);
        Assert.Equal(LibraryError(), error.Message);
        Assert.StartsWith("cannot ", error.Message);
        Assert.Contains(folder, error.Message);
        Assert.Equal(folder, error.Path);

        // A save into a folder that does not exist: the load of the missing file succeeds.
        var nowhere = Path.Combine(folder, "missing", "hosts");
        var hosts = new HostsFile(nowhere);
        hosts.Load();
        hosts.Add("10.0.0.1", "a.lan");
        error = Assert.Throws<HostsException>(hosts.Save);
        Assert.Equal(LibraryError(), error.Message);
        Assert.Contains(nowhere, error.Message);
        Assert.Equal(nowhere, error.Path);
        Assert.Equal(1, hosts.Count);
    }

    public static TheoryData<string, Action<HostsFile>> RefusedTexts => new()
    {
        { "NUL in address", hosts => hosts.Add("10.0.0.1\0junk", "a.lan") },
        { "NUL in name", hosts => hosts.Add("10.0.0.1", "a.lan\0evil") },
        { "NUL in comment", hosts => hosts.Add("10.0.0.1", "a.lan", "good\0 evil") },
        { "lone surrogate in name", hosts => hosts.Add("10.0.0.1", "a\uD800.lan") },
        { "lone surrogate in comment", hosts => hosts.Add("10.0.0.1", "a.lan", "note \uDC00") },
        { "NUL in path", _ => _ = new HostsFile("hosts\0junk") },
        { "lone surrogate in path", _ => _ = new HostsFile("hosts\uD800") },
    };

    [Theory]
    [MemberData(nameof(RefusedTexts))]
    public void UnrepresentableTextIsRefusedBeforeAnyCall(string what, Action<HostsFile> call)
    {
        var hosts = Loaded();
        Assert.Throws<ArgumentOutOfRangeException>(() => hosts.Enable(7));
        var lastError = LibraryError();

        Assert.Throws<ArgumentException>(() => call(hosts));

        // The library's last error would have changed with any call that reached it.
        Assert.True(lastError == LibraryError(), what);
        Assert.Equal(2, hosts.Count);
    }

    // The Windows DLL takes texts in the ANSI code page; its encoder is checked here
    // for a few code pages, since Linux has no ANSI code page of its own.
    [Theory]
    [InlineData(1252, "h\u00f6sts", new byte[] { 0x68, 0xF6, 0x73, 0x74, 0x73 })]
    [InlineData(1252, "\u0142\u00f3d\u017a", null)]
    [InlineData(1252, "\u221e.lan", null)]
    [InlineData(932, "\u30db\u30b9\u30c8", new byte[] { 0x83, 0x7A, 0x83, 0x58, 0x83, 0x67 })]
    [InlineData(65001, "\u0142\u00f3d\u017a", new byte[] { 0xC5, 0x82, 0xC3, 0xB3, 0x64, 0xC5, 0xBA })]
    public void CodePageEncodingRefusesWhatItCannotCarry(int codePage, string text, byte[]? expected)
    {
        var encoding = NativeText.ForCodePage(codePage);
        if (expected is null)
        {
            Assert.Throws<ArgumentException>(() => NativeText.Encode(text, "text", encoding));
            return;
        }
        Assert.Equal(expected.Append((byte)0), NativeText.Encode(text, "text", encoding));
    }

    [Fact]
    public void TextThatIsNotUtf8StillListsAndIsKeptOnSave()
    {
        var path = Path.Combine(folder, "hosts");
        var latin1 = new byte[] { (byte)'1', (byte)'0', (byte)'.', (byte)'0', (byte)'.', (byte)'0', (byte)'.', (byte)'1', (byte)' ',
                                  (byte)'a', (byte)'.', (byte)'l', (byte)'a', (byte)'n', (byte)' ', (byte)'#', (byte)' ',
                                  (byte)'c', (byte)'a', (byte)'f', 0xE9, (byte)' ', 0xFF, (byte)'\n' };
        File.WriteAllBytes(path, latin1);
        var hosts = new HostsFile(path);
        hosts.Load();

        Assert.Equal(new HostRecord(0, "10.0.0.1", "a.lan", true, "caf\uFFFD \uFFFD"), Assert.Single(hosts.GetRecords()));
        hosts.Disable(0);
        hosts.Save();
        Assert.Equal(new byte[] { (byte)'#', (byte)' ' }.Concat(latin1), File.ReadAllBytes(path));
    }

    [Fact]
    public void EditsOnlyTheRecordsItLoaded()
    {
        var mine = Loaded();
        var other = new HostsFile(Path.Combine(folder, "other"));
        var fresh = new HostsFile(mine.Path);
        const string notLoaded = "records not loaded: call Load() on this HostsFile first";

        Assert.Equal(notLoaded, Assert.Throws<InvalidOperationException>(() => fresh.Add("10.0.0.1", "a.lan")).Message);
        other.Load();
        foreach (var call in new Action[] { () => mine.Add("10.0.0.1", "a.lan"), () => mine.Disable(0), () => _ = mine.GetRecords(),
                                            () => mine.Find("localhost"), () => mine.Set("10.0.0.1", "a.lan"), () => mine.RemoveAll("localhost"), mine.Save })
            Assert.Equal(notLoaded, Assert.Throws<InvalidOperationException>(call).Message);

        // A failed load leaves nothing to edit.
        mine.Load();
        var tooLong = new HostsFile(new string('a', 9000));
        Assert.Throws<ArgumentException>(tooLong.Load);
        Assert.Equal(notLoaded, Assert.Throws<InvalidOperationException>(() => tooLong.Count).Message);
        Assert.Equal(notLoaded, Assert.Throws<InvalidOperationException>(() => mine.Count).Message);

        // A record read before an edit that moved it is refused, not applied to its neighbour.
        mine.Load();
        var (first, second) = (mine.GetRecords()[0], mine.GetRecords()[1]);
        mine.Remove(0);
        foreach (var moved in new[] { first, second })
        {
            var error = Assert.Throws<InvalidOperationException>(() => mine.Disable(moved));
            Assert.Equal($"record {moved.Index} is no longer {moved.Address} {moved.Name}: load the file again", error.Message);
        }
        Assert.Equal(new HostRecord(0, "10.0.0.2", "old.lan", false, "retired"), Assert.Single(mine.GetRecords()));
    }

    // The netstandard2.0 build ([DllImport]) loaded beside the net10.0 one, in a
    // context of its own, must behave the same on the same library.
    [Fact]
    public void NetStandardBuildLoadsEditsAndSaves()
    {
        var assemblyPath = typeof(HostsFileTests).Assembly.GetCustomAttributes<AssemblyMetadataAttribute>()
            .Single(attribute => attribute.Key == "NetStandardBinding").Value!;
        var context = new AssemblyLoadContext("netstandard2.0", isCollectible: true);
        context.ResolvingUnmanagedDll += (_, _) => NativeLibrary.Load(Path.Combine(AppContext.BaseDirectory, "libquendral-hosts.so"));
        try
        {
            var binding = context.LoadFromAssemblyPath(assemblyPath);
            Assert.Contains(binding.GetCustomAttributes<TargetFrameworkAttribute>(), target => target.FrameworkName == ".NETStandard,Version=v2.0");
            dynamic hosts = Activator.CreateInstance(binding.GetType("Quendral.Hosts.HostsFile")!, HostsPath(TwoEntries))!;
            hosts.Load();
            Assert.Equal(2, (int)hosts.Add("10.0.0.5", "build.lan", "CI runner").Index);
            hosts.Disable(0);
            hosts.Save();
            Assert.Equal("# 127.0.0.1 localhost\n# 10.0.0.2 old.lan # retired\n10.0.0.5 build.lan # CI runner\n", File.ReadAllText((string)hosts.Path));

            var error = Assert.ThrowsAny<Exception>(() => { hosts.Enable(9); });
            Assert.Equal(typeof(ArgumentOutOfRangeException), error.GetType());
            Assert.Equal("index 9 out of range (count 3)", error.Message);
            Assert.Throws<ArgumentException>(() => { hosts.Add("10.0.0.1", "a.lan\0evil"); });
        }
        finally
        {
            context.Unload();
        }
    }

    [Fact]
    public void CallsFromManyThreadsKeepTheTableWhole()
    {
        var hosts = Loaded();
        const int threads = 8, each = 50;
        var added = new HostRecord[threads][];
        Parallel.For(0, threads, thread =>
            added[thread] = Enumerable.Range(0, each).Select(i => hosts.Add("10.1.0.1", $"t{thread}-{i}.lan")).ToArray());

        var all = added.SelectMany(records => records).ToList();
        Assert.Equal(2 + threads * each, hosts.Count);
        Assert.Equal(all.Count, all.Select(record => record.Index).Distinct().Count());
        var records = hosts.GetRecords();
        Assert.All(all, record => Assert.Equal(record, records[record.Index]));
    }

    [Fact]
    public void FlushDnsSucceedsOrReportsTheLibraryText()
    {
        try
        {
            var note = HostsFile.FlushDns();
            Assert.Equal(LibraryError(), note);
        }
        catch (HostsException error)
        {
            Assert.NotEqual("", error.Message);
            Assert.Equal(LibraryError(), error.Message);
        }
    }
}
