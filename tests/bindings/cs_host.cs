// Calls QRFile.Make once with its arguments and prints "0 NAME" (the name
// written) or "CODE MESSAGE" (the exception's). The two characters \0 in
// TEXT stand for a NUL character, which a command line cannot carry.
// Usage: cs_host.exe NAME TEXT [LEVEL CELLSIZE VERSION MASKPATTERN MODE]
using System;
using ZemQR;

static class CsHost
{
    static int Main(string[] args)
    {
        string text = args[1].Replace("\\0", "\0");
        int[] n = new int[5];
        for (int i = 2; i < args.Length; i++) n[i - 2] = int.Parse(args[i]);
        try
        {
            string written = args.Length > 2 ? QRFile.Make(args[0], text, n[0], n[1], n[2], n[3], n[4])
                                             : QRFile.Make(args[0], text);
            Console.WriteLine("0 " + written);
        }
        catch (QRFileException e)
        {
            Console.WriteLine(e.Code + " " + e.Message);
        }
        return 0;
    }
}
