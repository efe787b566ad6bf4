// The ZemQR package as a .NET program takes it: each file written must be the
// console program's for the same request (ZEM_CLI, with -k 3 for UTF-8) and
// read back by zbarimg; a refused request writes nothing.
using System;
using System.Diagnostics;
using System.IO;
using System.Linq;
using System.Text;
using System.Threading;
using Xunit;
using ZemQR;

public sealed class MakeTests : IDisposable
{
    readonly string work = Directory.CreateTempSubdirectory("zem-dotnet-").FullName;

    public void Dispose() => Directory.Delete(work, true);

    // The case's folder: the package's files in "net", the console program's in "cli".
    string Folder(string name, string side)
    {
        string dir = Path.Combine(work, name, side);
        Directory.CreateDirectory(dir);
        return dir;
    }

    static byte[] Run(string program, string dir, params string[] args)
    {
        var start = new ProcessStartInfo(program) { WorkingDirectory = dir, RedirectStandardOutput = true,
                                                    RedirectStandardError = true };
        foreach (string arg in args) start.ArgumentList.Add(arg);
        using Process process = Process.Start(start);
        var output = new MemoryStream();
        process.StandardOutput.BaseStream.CopyTo(output);
        process.StandardError.ReadToEnd();
        process.WaitForExit();
        return output.ToArray();
    }

    static byte[] Decoded(string file)
    {
        byte[] raw = Run("zbarimg", Path.GetDirectoryName(file), "-q", "--raw", "-Sbinary", file);
        return raw.Length > 0 && raw[^1] == '\n' ? raw[..^1] : raw;
    }

    static byte[] Hex(string hex) => Convert.FromHexString(hex);

    public static TheoryData<string, string, Func<string, string, string>, string[], string, byte[]> Requests => new()
    {
        // The call a reader of the package's README makes first.
        { "mixed", "café ☕ 日本 Hello", (n, t) => QRFile.Make(n, t, ErrorCorrection.M, 4),
          new[] { "-e", "2", "-s", "4" }, "mixed.png", Encoding.UTF8.GetBytes("café ☕ 日本 Hello") },
        // Every number away from its default, through the int form; kanji and
        // kana are stored as Shift-JIS.
        { "kanji.PNG", "漢字とかな", (n, t) => QRFile.Make(n, t, 4, 3, 5, 3, 0),
          new[] { "-e", "4", "-s", "3", "-q", "5", "-p", "3" }, "kanji.PNG", Hex("8ABF8E9A82C682A982C8") },
        { "ラベル_é", "HELLO", (n, t) => QRFile.Make(n, t),
          new[] { "-e", "2", "-s", "4" }, "ラベル_é.png", Encoding.UTF8.GetBytes("HELLO") },
        { "label.BMP", "PART-0042", (n, t) => QRFile.Make(n, t, ErrorCorrection.L, 8, mode: DataMode.Byte),
          new[] { "-e", "1", "-s", "8", "-m", "3" }, "label.BMP", Encoding.UTF8.GetBytes("PART-0042") },
    };

    [Theory]
    [MemberData(nameof(Requests))]
    public void WritesTheConsoleProgramsFile(string name, string text, Func<string, string, string> make,
                                             string[] options, string written, byte[] decoded)
    {
        string net = Folder("case", "net"), cli = Folder("case", "cli");
        Assert.Equal(Path.Combine(net, written), make(Path.Combine(net, name), text));
        Run(Environment.GetEnvironmentVariable("ZEM_CLI"), cli, new[] { "-k", "3" }.Concat(options).Append(name).Append(text).ToArray());
        Assert.Equal(File.ReadAllBytes(Path.Combine(cli, written)), File.ReadAllBytes(Path.Combine(net, written)));
        Assert.Equal(decoded, Decoded(Path.Combine(net, written)));
    }

    public static TheoryData<string, string, int, string> Refusals => new()
    {
        { "x.png", "", -1, "Parameter error" },
        { "x.png", "a\uD800b", -1, "Parameter error" },  // a lone surrogate has no UTF-8 form
        { "x.png", "a\0b", -1, "Parameter error" },      // the library would cut the text there
        { "no-such-dir/x.png", "PNG", -61, ".png file store error [-61]" },
    };

    // Enumerated when run: a lone surrogate does not survive the test
    // runner's serialisation of cases found beforehand.
    [Theory]
    [MemberData(nameof(Refusals), DisableDiscoveryEnumeration = true)]
    public void RefusesWithTheCodeAndWritesNothing(string name, string text, int code, string message)
    {
        string dir = Folder("refused", "net");
        var e = Assert.Throws<QRFileException>(() => QRFile.Make(Path.Combine(dir, name), text, ErrorCorrection.M, 4));
        Assert.Equal((code, message), (e.Code, e.Message));
        Assert.Empty(Directory.EnumerateFileSystemEntries(dir));
    }

    [Fact]
    public void IsStrongNamed() => Assert.NotEmpty(typeof(QRFile).Assembly.GetName().GetPublicKeyToken());

    [Fact]
    public void EightThreadsWriteWhatOneWould()
    {
        string together = Folder("threads", "together"), alone = Folder("threads", "alone");
        string Text(int i) => "thread " + i + " " + new string((char)('a' + i), 40 * i);
        var threads = Enumerable.Range(0, 8).Select(i => new Thread(() =>
        {
            for (int round = 0; round < 10; round++)
                QRFile.Make(Path.Combine(together, i + "-" + round), Text(i) + round);
        })).ToList();
        threads.ForEach(t => t.Start());
        threads.ForEach(t => t.Join());
        for (int i = 0; i < 8; i++)
            for (int round = 0; round < 10; round++)
            {
                string file = i + "-" + round + ".png";
                QRFile.Make(Path.Combine(alone, file), Text(i) + round);
                Assert.Equal(File.ReadAllBytes(Path.Combine(alone, file)), File.ReadAllBytes(Path.Combine(together, file)));
            }
    }
}
