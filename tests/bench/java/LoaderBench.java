import com.tarnwick.loader.Archive;
import com.tarnwick.loader.JarArchive;
import com.tarnwick.loader.LaunchedURLClassLoader;

import java.io.BufferedReader;
import java.io.File;
import java.io.FileReader;
import java.net.URL;
import java.net.URLClassLoader;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/**
 * Loads every listed class through the nested-archive loader and through a
 * URLClassLoader over the same jars on disk, alternating, in one JVM.
 * Arguments: packed file, class-name list, then the extracted jars.
 */
public class LoaderBench {

    public static void main(String[] args) throws Exception {
        File packed = new File(args[0]);
        List<String> names = new ArrayList<>();
        try (BufferedReader in = new BufferedReader(new FileReader(args[1]))) {
            for (String line; (line = in.readLine()) != null; ) {
                names.add(line);
            }
        }
        List<URL> nested = new ArrayList<>();
        for (Archive archive : JarArchive.of(packed).getNestedArchives(e -> !e.isDirectory() && e.getName().startsWith("BOOT-INF/lib/"))) {
            nested.add(archive.getUrl());
        }
        URL[] nestedUrls = nested.toArray(new URL[0]);
        URL[] plainUrls = new URL[args.length - 2];
        for (int i = 2; i < args.length; i++) {
            plainUrls[i - 2] = new File(args[i]).toURI().toURL();
        }
        int warmup = Integer.getInteger("bench.warmup", 8);
        int rounds = Integer.getInteger("bench.rounds", 20);
        long[] nestedTimes = new long[rounds];
        long[] plainTimes = new long[rounds];
        ClassLoader parent = LoaderBench.class.getClassLoader();
        URLClassLoader previousPlain = null;
        for (int round = -warmup; round < rounds; round++) {
            // Alternate which loader goes first, so neither always runs on a warmer JVM.
            boolean nestedFirst = (round & 1) == 0;
            for (int turn = 0; turn < 2; turn++) {
                boolean doNested = (turn == 0) == nestedFirst;
                URLClassLoader loader = doNested ? new LaunchedURLClassLoader(nestedUrls, parent)
                        : new URLClassLoader(plainUrls, parent);
                long start = System.nanoTime();
                for (String name : names) {
                    Class.forName(name, false, loader);
                }
                long elapsed = System.nanoTime() - start;
                if (round >= 0) {
                    (doNested ? nestedTimes : plainTimes)[round] = elapsed;
                }
                if (!doNested) {
                    // Closed one round late, so the JDK's open-jar cache stays warm as ours does.
                    if (previousPlain != null) {
                        previousPlain.close();
                    }
                    previousPlain = loader;
                }
            }
        }
        Arrays.sort(nestedTimes);
        Arrays.sort(plainTimes);
        double nestedMedian = nestedTimes[rounds / 2] / 1e6;
        double plainMedian = plainTimes[rounds / 2] / 1e6;
        System.out.printf("classes: %d, jars: %d, rounds: %d (after %d warm-up)%n", names.size(), nestedUrls.length,
                rounds, warmup);
        System.out.printf("nested loader:  median %.1f ms (min %.1f)%n", nestedMedian, nestedTimes[0] / 1e6);
        System.out.printf("URLClassLoader: median %.1f ms (min %.1f)%n", plainMedian, plainTimes[0] / 1e6);
        System.out.printf("ratio nested/plain (medians): %.3f%n", nestedMedian / plainMedian);
    }
}
