using System;
using System.Collections.Generic;
using System.IO;
using System.Linq;
using System.Reflection;
using System.Text;
using System.Text.Json;
using Xunit;

namespace Quendral.Hosts.Tests;

public sealed class EditingModelTests : IDisposable
{
    private readonly string folder = Directory.CreateTempSubdirectory("qh-dotnet-model-").FullName;
    private string HostsPath => Path.Combine(folder, "hosts");

    public void Dispose() => Directory.Delete(folder, recursive: true);

    private static readonly JsonElement Table = LoadTable();

    private static JsonElement LoadTable()
    {
        var path = typeof(EditingModelTests).Assembly.GetCustomAttributes<AssemblyMetadataAttribute>()
            .Single(attribute => attribute.Key == "EditingCases").Value!;
        using var document = JsonDocument.Parse(File.ReadAllText(path));
        return document.RootElement.Clone();
    }

    public static TheoryData<string> CaseNames()
    {
        var names = new TheoryData<string>();
        foreach (var entry in Table.GetProperty("cases").EnumerateArray())
            names.Add(entry.GetProperty("name").GetString()!);
        return names;
    }

    private static string? Text(JsonElement element, string property) =>
        element.TryGetProperty(property, out var value) && value.ValueKind == JsonValueKind.String ? value.GetString() : null;

    [Theory]
    [MemberData(nameof(CaseNames))]
    public void SharedEditingCase(string name)
    {
        var entry = Table.GetProperty("cases").EnumerateArray().Single(c => c.GetProperty("name").GetString() == name);
        var start = Encoding.UTF8.GetBytes(Table.GetProperty("files").GetProperty(entry.GetProperty("file").GetString()!).GetString()!);
        File.WriteAllBytes(HostsPath, start);
        var hosts = new HostsFile(HostsPath);
        hosts.Load();
        var before = hosts.GetRecords();
        var op = entry.GetProperty("op").GetString();
        var expect = entry.GetProperty("expect");
        var target = entry.TryGetProperty("target", out var t) ? t : default;
        var byName = target.ValueKind == JsonValueKind.Object ? Text(target, "name") : null;
        var byAddress = target.ValueKind == JsonValueKind.Object ? Text(target, "address") : null;
        int? index = target.ValueKind == JsonValueKind.Object && target.TryGetProperty("index", out var i) ? i.GetInt32() : null;

        object? Run()
        {
            switch (op)
            {
                case "add":
                    return hosts.Add(Text(entry, "address")!, Text(entry, "hostname")!, Text(entry, "comment")).Index;
                case "set":
                    return hosts.Set(Text(entry, "address")!, Text(entry, "hostname")!, Text(entry, "comment")).Index;
                case "find":
                    var found = hosts.Find(byName, byAddress);
                    Assert.Equal(found.Count > 0, hosts.Contains(byName, byAddress));
                    return found.Select(record => record.Index).ToArray();
            }
            if (index is { } at)
            {
                if (op == "enable") hosts.Enable(at);
                else if (op == "disable") hosts.Disable(at);
                else hosts.Remove(at);
                return 1;
            }
            return op switch
            {
                "enable" => hosts.EnableAll(byName, byAddress),
                "disable" => hosts.DisableAll(byName, byAddress),
                _ => hosts.RemoveAll(byName, byAddress),
            };
        }

        var error = Text(expect, "error");
        switch (error)
        {
            case "not_found":
                Assert.Equal(0, Run());
                break;
            case "invalid":
                Assert.IsType<ArgumentException>(Assert.ThrowsAny<Exception>(Run));
                break;
            case "out_of_range":
                Assert.Throws<ArgumentOutOfRangeException>(Run);
                break;
            default:
                var result = Run();
                var wanted = expect.GetProperty("result");
                if (wanted.ValueKind == JsonValueKind.Array)
                    Assert.Equal(wanted.EnumerateArray().Select(e => e.GetInt32()).ToArray(), (int[])result!);
                else if (wanted.ValueKind == JsonValueKind.Number)
                    Assert.Equal(wanted.GetInt32(), result);
                break;
        }
        var file = error is null ? Text(expect, "file") : null;
        if (file is null)
        {
            Assert.False(hosts.IsModified);
            Assert.Equal(before, hosts.GetRecords());
            Assert.Equal(start, File.ReadAllBytes(HostsPath));
            return;
        }
        Assert.True(hosts.IsModified);
        hosts.Save();
        Assert.False(hosts.IsModified);
        Assert.Equal(file, File.ReadAllText(HostsPath));
    }

    [Fact]
    public void EmptyPathIsRefusedAndNoPathIsTheSystemFile()
    {
        var error = Assert.Throws<ArgumentException>(() => new HostsFile(""));
        Assert.StartsWith("--file needs a non-empty path", error.Message);
        Assert.Equal("path", error.ParamName);
        Assert.Null(new HostsFile().Path);
    }

    [Fact]
    public void ChangedSinceLoadIsItsOwnKind()
    {
        File.WriteAllText(HostsPath, "127.0.0.1 localhost\n");
        var hosts = new HostsFile(HostsPath);
        hosts.Load();
        hosts.Add("10.0.0.1", "a.lan");
        File.AppendAllText(HostsPath, "10.0.0.2 late.lan\n");
        var error = Assert.Throws<HostsException>(hosts.Save);
        Assert.Equal(HostsErrorKind.Changed, error.Kind);
        Assert.EndsWith(" changed since it was loaded", error.Message);
        Assert.True(hosts.IsModified);

        // A retry is the same calls on a fresh load.
        hosts.Load();
        hosts.Add("10.0.0.1", "a.lan");
        hosts.Save();
        Assert.Equal("127.0.0.1 localhost\n10.0.0.2 late.lan\n10.0.0.1 a.lan\n", File.ReadAllText(HostsPath));
    }

    public static TheoryData<string, Type, HostsErrorKind?> ErrorTexts => new()
    {
        { "/x/hosts changed since it was loaded", typeof(HostsException), HostsErrorKind.Changed },
        { "cannot open /x/hosts.tmp for writing: Permission denied", typeof(UnauthorizedAccessException), null },
        { "rename /x/hosts.tmp -> /x/hosts failed: Operation not permitted", typeof(UnauthorizedAccessException), null },
        { "cannot open /x/hosts.tmp for writing: No space left on device", typeof(HostsException), HostsErrorKind.Failed },
        { "invalid name: 'a b'", typeof(ArgumentException), null },
        { "index 3 out of range (count 1)", typeof(ArgumentOutOfRangeException), null },
    };

    [Theory]
    [MemberData(nameof(ErrorTexts))]
    public void LibraryTextsBecomeExceptionsByKind(string text, Type type, HostsErrorKind? kind)
    {
        var error = HostsFile.Error(text, "/x/hosts");
        Assert.Equal(type, error.GetType());
        // Refused access adds the hint to run elevated (as root elsewhere).
        var expectedText = type == typeof(UnauthorizedAccessException) ? text + "; " + HostsFile.ElevationHint : text;
        Assert.Equal(expectedText, error.Message);
        if (kind is { } expected)
            Assert.Equal(expected, ((HostsException)error).Kind);
    }

    [Fact]
    public void FindTakesNameAndAddressTogetherAndRefusesNeither()
    {
        File.WriteAllText(HostsPath, "10.0.0.5 build.lan ci.lan\n# 10.0.0.9 ci.lan\n");
        var hosts = new HostsFile(HostsPath);
        hosts.Load();
        Assert.Equal(new[] { 1 }, hosts.Find("CI.lan", "10.0.0.05").Select(r => r.Index));
        Assert.Equal(new[] { 1, 2 }, hosts.Find(name: "ci.lan").Select(r => r.Index));
        Assert.False(hosts.Contains("build.lan", "10.0.0.9"));
        Assert.Throws<ArgumentException>(() => hosts.Find());
        Assert.Throws<ArgumentException>(() => hosts.RemoveAll(name: ""));
        Assert.False(hosts.IsModified);
    }

    [Fact]
    public void GetRecordsIsOneCopyThatDoesNotFollowEdits()
    {
        File.WriteAllText(HostsPath, "10.0.0.5 build.lan\n");
        var hosts = new HostsFile(HostsPath);
        hosts.Load();
        var records = hosts.GetRecords();
        hosts.Add("10.0.0.6", "web.lan");
        Assert.Single(records);
        Assert.Equal(2, hosts.GetRecords().Count);
        Assert.Null(typeof(HostsFile).GetProperty("Records"));
    }
}
